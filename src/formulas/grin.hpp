// The formula of the button "marble" (routine grin).
#pragma once

#include "formulas/PixelFunction.hpp"

namespace spirell::formulas {

// The same pair of absolute tangents applied twice, first to the angles and then
// to the first pair, and a ratio of cross products of the four.
template <typename V> ChannelTerms<V> grin(const PixelPoint<V>& p) {
    const V AngleY = standardAngle(p.zoom, p.Y);
    const V AngleX = standardAngle(p.zoom, p.X);

    const V TermA = abs(tan(sin(AngleX - AngleY) + cos(AngleX + AngleY)));
    const V TermB = abs(tan(cos(AngleX - AngleY) - sin(AngleX + AngleY)));
    const V TermC = abs(tan(sin(TermA - TermB) + cos(TermA + TermB)));
    const V TermD = abs(tan(cos(TermA - TermB) - sin(TermA + TermB)));
    // Both factors of the divisor are absolute values: the small constant keeps it above 0.
    const V TermE = (TermA * TermC) / (TermB * TermD + 0.0000001);

    return {0.05 * TermC + 0.01 * TermD + 0.08 * TermE, 0.03 * TermC + 0.08 * TermD + 0.1 * TermE,
            0.09 * TermC + 0.02 * TermD + 0.04 * TermE};
}

} // namespace spirell::formulas
