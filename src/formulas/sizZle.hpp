// The formula of the button "velvet" (routine sizZle).
#pragma once

#include "formulas/PixelFunction.hpp"

namespace spirell::formulas {

// The absolute angles raised to a power that varies from pixel to pixel, mixed
// in one absolute tangent that drives a single ramp from black to white.
template <typename V> ChannelTerms<V> sizZle(const PixelPoint<V>& p) {
    const V AngleX = standardAngle(p.zoom, p.X);
    const V AngleY = standardAngle(p.zoom, p.Y);

    const V TermA = abs(sin(sin((AngleX - AngleY) + cos(AngleY - AngleX)) +
                            sin((AngleY + AngleX) + cos(AngleX + AngleY))));
    // pow gives 0 ^ 0 = 1 and 0 for a zero base under a positive exponent.
    const V PowerX = pow(abs(AngleX), TermA);
    const V PowerY = pow(abs(AngleY), TermA);
    const V TermB = abs(tan(sin(PowerY - PowerX) + cos(PowerX + PowerY)));

    return {0.03 * TermB, 0.08 * TermB, 0.13 * TermB};
}

} // namespace spirell::formulas
