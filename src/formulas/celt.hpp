// The formula of the button "lantern" (routine celt).
#pragma once

#include "formulas/PixelFunction.hpp"

namespace spirell::formulas {

// A chain of three absolute tangents; fractional powers of the angles' sizes
// bend the first term's bands, and each later term takes the one before it.
template <typename V> ChannelTerms<V> celt(const PixelPoint<V>& p) {
    const V AngleY = standardAngle(p.zoom, p.Y);
    const V AngleX = standardAngle(p.zoom, p.X);

    // The powers take magnitudes, so a negative angle never meets a real power.
    const V TermA =
        abs(tan(sin(AngleX - pow(abs(AngleY), 1.2)) + cos(AngleY + pow(abs(AngleX), 0.8))));
    const V TermB = abs(tan(sin((AngleX - TermA) + 0.4 * AngleY) + cos(AngleY + AngleX / 3)));
    const V TermC = abs(tan(cos(AngleX + AngleY) + (TermB + sin(AngleX - 2 * AngleY))));

    return {0.038 * TermA + 0.06 * TermB + 0.01 * TermC,
            0.034 * TermA + 0.02 * TermB + 0.03 * TermC,
            0.005 * TermA + 0.01 * TermB + 0.05 * TermC};
}

} // namespace spirell::formulas
