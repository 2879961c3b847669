#pragma once

#include <array>

namespace spirell::formulas {

struct FormulaProgram;

// Where the world region lies relative to the two position boxes.
enum class OriginRule {
    Centred,    // position minus half the width and half the height
    ThirdWidth, // position x minus a third of the width; position y as it stands
    Corner,     // the positions name the corner just before the first column and row
    Offset150,  // position x + 150, position y - 150, whatever the size
};

// How a formula departs from the standard frame. A channel's level is
// (mixture x brightness value) x levelScale + offset; the mixtures come from
// the formula's per-pixel function, entry index of formulas::kPixelFunctions,
// or for a formula written as text from its program.
struct Formula {
    int index;
    const char* routine;
    const char* caption;
    OriginRule origin = OriginRule::Centred;
    double zoomMultiplier = 2;
    double brightnessMultiplier = 1;
    double levelScale = 1;
    std::array<double, 3> levelOffsets = {50, 50, 50};
    // A formula written as text: its program and the text itself; null for
    // the built-ins.
    const FormulaProgram* program = nullptr;
    const char* text = nullptr;
};

} // namespace spirell::formulas
