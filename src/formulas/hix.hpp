// The formula of the button "cinder" (routine hix).
#pragma once

#include "formulas/PixelFunction.hpp"

namespace spirell::formulas {

// Two nested absolute tangents of sines and a cosine of the angles; the second
// takes the first into its argument.
template <typename V> ChannelTerms<V> hix(const PixelPoint<V>& p) {
    const V AngleY = standardAngle(p.zoom, p.Y);
    const V AngleX = standardAngle(p.zoom, p.X);

    const V TermA =
        abs(tan(sin(AngleX - AngleY) + sin(AngleY - sin(AngleX)) * cos(AngleX + AngleY)));
    const V TermB =
        abs(tan(TermA + sin(2 * AngleX + 0.5 * AngleY) - sin(2 * AngleY - 0.5 * AngleX)));

    return {0.05 * TermA + 0.01 * TermB, 0.01 * TermA + 0.05 * TermB, 0.09 * TermA + 0.12 * TermB};
}

} // namespace spirell::formulas
