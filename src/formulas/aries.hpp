// The formula of the button "ripple" (routine aries).
#pragma once

#include "formulas/PixelFunction.hpp"

namespace spirell::formulas {

// Absolute tangents of sums, differences and the product of the two angles; the
// first term feeds a second tangent back into its argument.
template <typename V> ChannelTerms<V> aries(const PixelPoint<V>& p) {
    const V AngleY = standardAngle(p.zoom, p.Y);
    const V AngleX = standardAngle(p.zoom, p.X);

    // Each computed once: the same call on the same value gives the same bits.
    const V CosSum = cos(AngleX + AngleY);
    const V CosDifference = cos(AngleX - AngleY);
    const V U3 = sin((AngleX + AngleY) + CosSum);

    const V U1 = tan(U3);
    const V TermA = abs(tan(sin(AngleY * AngleX + CosDifference) - abs(U1)));
    const V U2 = cos((AngleY * AngleX + AngleY) + cos(AngleY - AngleX));
    const V TermB = abs(tan(sin((AngleY - AngleX) + CosDifference) - U2));
    const V TermC = abs(tan(sin(AngleY - AngleX * CosDifference) + U3));

    return {0.0152 * TermA + 0.04 * TermB + 0.0591 * TermC,
            0.01 * TermA + 0.05131 * TermB + 0.036 * TermC,
            0.023131 * TermA + 0.02 * TermB + 0.013 * TermC};
}

} // namespace spirell::formulas
