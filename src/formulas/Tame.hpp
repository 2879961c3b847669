// The formula of the button "walnut" (routine Tame).
#pragma once

#include "formulas/PixelFunction.hpp"

namespace spirell::formulas {

// Absolute values raised to a per-pixel power inside absolute tangents, plus
// the cosine of a quotient and the sine of a quotient whose divisor can vanish.
template <typename V> ChannelTerms<V> Tame(const PixelPoint<V>& p) {
    const V AngleY = standardAngle(p.zoom, p.Y);
    const V AngleX = standardAngle(p.zoom, p.X);

    const V TermA = abs(sin(AngleX - AngleY) + cos(AngleY + AngleX));
    // Shared by TermB and TermC.
    const V TermS =
        sin((AngleX + AngleY) + cos(-sin((-AngleY - AngleX) - cos(abs(AngleY + AngleX)))));
    const V TermB = abs(tan(sin(pow(abs(AngleY - AngleX), TermA) +
                                cos((AngleX - AngleY) - sin(cos(-AngleY - AngleX)))) +
                            TermS));
    const V TermC =
        abs(tan(sin((AngleY - AngleX) +
                    cos((AngleX - AngleY) - pow(abs(cos(TermB - AngleY * AngleX)), TermA))) +
                TermS));
    const V TermD = abs(cos(AngleY / ((6 * AngleX) * TermB + 0.000123)));
    const V TermE = sin(pow(abs(TermB), TermA) *
                        sin(AngleY + AngleX / (0.001 - abs(tan(AngleX - sin((7 * TermD) * TermB)) -
                                                           ((TermB * AngleX) * AngleY) * TermD))));

    return {0.002 * TermB + 0.9 * TermE + 0.4 * TermD + 0.03 * TermC,
            0.01 * TermB + 0.6 * TermE + 0.1 * TermD + 0.02 * TermC,
            0.05 * TermB + 0.3 * TermE + 0.05 * TermD + 0.001 * TermC};
}

} // namespace spirell::formulas
