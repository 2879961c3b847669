#pragma once

#include "render/Colour.hpp"

#include <array>

namespace spirell {

// 44 / 7 stands where a full turn would: close to, but not, 2 pi.
inline constexpr double TurnConstant = 44.0 / 7.0;

// The standard angle of a world coordinate: zoom x ((coordinate / 200) x TurnConstant).
inline double standardAngle(double zoom, double coordinate) {
    return zoom * ((coordinate / 200) * TurnConstant);
}

// What a formula's per-pixel function is given: the pixel's world coordinates
// and the formula's own zoom value (the zoom box times its zoom multiplier).
struct PixelPoint {
    double X = 0;
    double Y = 0;
    double zoom = 0;
};

// The three channel mixtures of one pixel, before brightness and offset.
struct ChannelTerms {
    double red = 0;
    double green = 0;
    double blue = 0;
};

using PixelFunction = ChannelTerms (*)(const PixelPoint&);

// Where the world region lies relative to the two position boxes.
enum class OriginRule {
    Centred,    // position minus half the width and half the height
    ThirdWidth, // position x minus a third of the width; position y as it stands
    Corner,     // the positions name the corner just before the first column and row
    Offset150,  // position x + 150, position y - 150, whatever the size
};

// How a formula departs from the standard frame, and its per-pixel mathematics.
// A channel's level is (mixture x brightness value) x levelScale + offset.
struct Formula {
    int index;
    const char* routine;
    const char* caption;
    OriginRule origin = OriginRule::Centred;
    double zoomMultiplier = 2;
    double brightnessMultiplier = 1;
    double levelScale = 1;
    std::array<double, 3> levelOffsets = {50, 50, 50};
    PixelFunction pixel = nullptr; // none yet: the button draws nothing

    bool isAvailable() const { return pixel != nullptr; }
};

} // namespace spirell
