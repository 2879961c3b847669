// The formula of the button "ember" (routine blood).
#pragma once

#include "formulas/PixelFunction.hpp"

namespace spirell::formulas {

// Absolute tangents of two sines of shifted cosines; the second term feeds the
// first back into its arguments.
template <typename V> ChannelTerms<V> blood(const PixelPoint<V>& p) {
    const V AngleY = standardAngle(p.zoom, p.Y);
    const V AngleX = standardAngle(p.zoom, p.X);

    const V TermA = abs(tan(sin(cos(AngleY - AngleX / 2) + (AngleX + AngleY)) +
                            sin(cos(AngleX - AngleY / 2) + (AngleY - AngleX))));
    const V TermB = abs(tan(sin(cos(AngleY - AngleX) + ((AngleX - TermA) + AngleY)) +
                            sin(cos(AngleX + AngleY) + ((AngleY - AngleX) + TermA))));

    return {0.02 * TermA + 0.15 * TermB, 0.06 * TermA + 0.09 * TermB, 0.08 * TermA + 0.02 * TermB};
}

} // namespace spirell::formulas
