// The formula of the button "nettle" (routine ice).
#pragma once

#include "formulas/PixelFunction.hpp"

namespace spirell::formulas {

// Tangents of sines and cosines of the angles, then tangents of sines and
// cosines of those; TermA and TermC keep their sign, so channels can go dark.
template <typename V> ChannelTerms<V> ice(const PixelPoint<V>& p) {
    const V AngleY = standardAngle(p.zoom, p.Y);
    const V AngleX = standardAngle(p.zoom, p.X);

    const V TermA = tan(sin(AngleX - AngleY) + cos(AngleX + AngleY));
    // Only the first sine goes through the tangent; the size is taken of the sum.
    const V TermB = abs(tan(sin(2 * AngleX + 0.5 * AngleY)) + sin(2 * AngleY - 0.5 * AngleX));
    const V TermC = tan(TermB + (sin(TermB - TermA) + cos(TermA)));
    const V TermD = abs(tan(sin(0.5 * TermA + 2 * TermB) + sin(2 * TermA - 0.5 * TermB)));

    return {0.5 * TermC + 0.8 * TermD + 0.1 * TermB, 0.3 * TermC + 0.5 * TermD + 0.7 * TermB,
            0.9 * TermC + 0.2 * TermD + 0.4 * TermB};
}

} // namespace spirell::formulas
