// The formula of the button "pebble" (routine dune).
#pragma once

#include "formulas/PixelFunction.hpp"

namespace spirell::formulas {

// Two absolute tangents: the cosine of the angles' sum plus their difference,
// and the cosine of the difference plus the sum; a lattice along both diagonals.
template <typename V> ChannelTerms<V> dune(const PixelPoint<V>& p) {
    const V AngleY = standardAngle(p.zoom, p.Y);
    const V AngleX = standardAngle(p.zoom, p.X);

    const V TermA = abs(tan(cos(AngleX + AngleY) + (AngleX - AngleY)));
    const V TermB = abs(tan(cos(AngleY - AngleX) + (AngleX + AngleY)));

    return {0.9 * TermA + 0.1 * TermB, 0.3 * TermA + 0.2 * TermB, 0.05 * TermA + 0.4 * TermB};
}

} // namespace spirell::formulas
