// The formula of the button "fickle" (routine fun).
#pragma once

#include "formulas/PixelFunction.hpp"

namespace spirell::formulas {

// An absolute tangent of skewed angles, a second one whose sine holds a
// reciprocal of AngleX (fine stripes near X = 0), and the ratio of the two.
template <typename V> ChannelTerms<V> fun(const PixelPoint<V>& p) {
    const V AngleY = standardAngle(p.zoom, p.Y);
    const V AngleX = standardAngle(p.zoom, p.X);

    const V TermA = abs(tan(sin(3 * AngleX - AngleY / 2) + cos(AngleY / 0.5 + 0.7 * AngleX)));
    // Only AngleX == -0.0001 exactly makes the reciprocal infinite; the sine of
    // it is then NaN, and the frame draws such a pixel black.
    const V TermB =
        abs(tan(cos(AngleX / 1.1 - 1.3 * AngleY) * sin(1.7 * AngleY + 1.9 / (AngleX + 0.0001))));
    const V TermC = TermA / (pow(TermB, 0.7) + 0.0000001);

    return {0.05 * TermA + 0.01 * TermB + 0.08 * TermC, 0.03 * TermA + 0.08 * TermB + 0.018 * TermC,
            0.19 * TermA + 0.2 * TermB + 0.001 * TermC};
}

} // namespace spirell::formulas
