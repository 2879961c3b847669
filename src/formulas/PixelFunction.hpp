#pragma once

// What every formula's per-pixel function is written in. The functions are
// templates over V, the type of the values they compute with: one double, or
// a vector of doubles that computes several pixels at once, lane by lane, with
// the very same IEEE operations in the same order. sin, cos, tan, pow and abs
// are found by argument-dependent lookup on V.
//
// Nothing here may be an ordinary inline function: this header is compiled
// once for each instruction set, and only templates over V (whose names
// carry the instruction set) keep each set's code apart.
namespace spirell::formulas {

// 44 / 7 stands where a full turn would: close to, but not, 2 pi.
inline constexpr double TurnConstant = 44.0 / 7.0;

// What a formula's per-pixel function is given: the pixel's world coordinates
// and the formula's own zoom value (the zoom box times its zoom multiplier).
template <typename V> struct PixelPoint {
    V X;
    V Y;
    double zoom;
};

// The three channel mixtures of one pixel, before brightness and offset.
template <typename V> struct ChannelTerms {
    V red;
    V green;
    V blue;
};

// The standard angle of a world coordinate: zoom x ((coordinate / 200) x TurnConstant).
template <typename V> V standardAngle(double zoom, V coordinate) {
    return zoom * ((coordinate / 200) * TurnConstant);
}

} // namespace spirell::formulas
