#pragma once

#include "formulas/Colour.hpp"
#include "formulas/FormulaProgram.hpp"
#include "formulas/PixelFunction.hpp"
#include "formulas/RoutineNames.hpp"

#include <cstddef>

// How the drawing frame hands pixels to the per-pixel functions in batches,
// and the table of batch functions each instruction set provides. Plain data
// only: the per-instruction-set sources include it too.
namespace spirell::lanes {

// count pixels; pixel i lies at world (X[i * xStride], Y[i * yStride]). A
// stride of 0 repeats one coordinate: a column is one X with many Ys, an image
// row many Xs with one Y.
struct PixelBatch {
    const double* X = nullptr;
    std::ptrdiff_t xStride = 0;
    const double* Y = nullptr;
    std::ptrdiff_t yStride = 0;
    std::size_t count = 0;
};

// How a formula's three mixtures become channel levels:
// (mixture x brightness) x levelScale + offset, each level then clamped to
// 0..255 and rounded half to even, a level that is not a number giving 0.
struct LevelRule {
    double zoom = 0; // the formula's zoom value, handed to the per-pixel function
    // A formula written as text: its program, which programColours runs.
    const formulas::FormulaProgram* program = nullptr;
    double brightness = 0;
    double levelScale = 1;
    double offsets[3] = {0, 0, 0};
};

using RawTerms = formulas::ChannelTerms<double>;

using ColourBatch = void (*)(const LevelRule& rule, const PixelBatch& pixels,
                             formulas::Colour* colours);
using TermsBatch = void (*)(double zoom, const PixelBatch& pixels, RawTerms* terms);
using ProgramTermsBatch = void (*)(const formulas::FormulaProgram& program, double zoom,
                                   const PixelBatch& pixels, RawTerms* terms);
using LevelsBatch = void (*)(const formulas::Levels* levels, std::size_t count,
                             formulas::Colour* colours);

// The elementary functions themselves, for checking that every set agrees.
enum class Elementary { Sin, Cos, Tan, Pow, Sqrt, Exp, Log, Atan2 };
// results[i] = function(x[i]), or pow(x[i], y[i]) and atan2(x[i], y[i]).
using ElementaryBatch = void (*)(Elementary function, const double* x, const double* y,
                                 std::size_t count, double* results);

// The batch functions of one instruction set, indexed by the formula's index.
struct KernelTable {
    const char* name;
    int lanes;
    ColourBatch colours[formulas::kFormulaCount];
    TermsBatch terms[formulas::kFormulaCount];
    // The same for a formula written as text, whose program the level rule
    // (or the call) gives.
    ColourBatch programColours;
    ProgramTermsBatch programTerms;
    // The colours of given levels, by the rule the colour batches use.
    LevelsBatch coloursOfLevels;
    ElementaryBatch elementary;
};

} // namespace spirell::lanes
