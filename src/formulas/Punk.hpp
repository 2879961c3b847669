// The formula of the button "kestrel" (routine Punk).
#pragma once

#include "formulas/PixelFunction.hpp"

namespace spirell::formulas {

// A cascade of sine, cosine and tangent terms, each built on the ones before,
// and the ratio of two products of them.
template <typename V> ChannelTerms<V> Punk(const PixelPoint<V>& p) {
    const V AngleY = standardAngle(p.zoom, p.Y) + 0.5;
    const V AngleX = standardAngle(p.zoom, p.X) + 0.5;

    const V CosSum = cos(AngleX + AngleY); // used twice
    const V TermA = sin(AngleX - AngleY) + CosSum;
    const V TermB = abs(sin(TermA - AngleY) + CosSum);
    const V TermC = tan(cos(TermB - AngleY) - sin(AngleX + TermA));
    const V TermD = abs(tan(sin(TermB - TermC) + cos(TermB + TermC)));
    const V TermE = abs(tan(cos(TermB - TermC) - sin(TermB + TermC)));
    const V TermF = (TermD * TermB) / (0.0000001 + TermE * TermC);

    return {(0.05 * TermD + 0.05 * TermE) + 0.008 * TermF,
            (0.03 * TermD + 0.04 * TermE) + 0.01 * TermF,
            (0.09 * TermD + 0.02 * TermE) + 0.04 * TermF};
}

} // namespace spirell::formulas
