// The formula of the button "ooh" (routine ooh).
#pragma once

#include "formulas/PixelFunction.hpp"

namespace spirell::formulas {

// A chain of tangents, sines and cosines ending in one tangent that drives a
// single ramp from black through deep blue to white.
template <typename V> ChannelTerms<V> ooh(const PixelPoint<V>& p) {
    const V AngleY = standardAngle(p.zoom, p.Y) + 0.5;
    const V AngleX = standardAngle(p.zoom, p.X) + 0.5;

    // Each used twice.
    const V SinDifference = sin(AngleX - AngleY);
    const V SinSum = sin(AngleX + AngleY);

    const V TermA = abs(tan(SinDifference + cos(AngleX + AngleY))) / 7;
    const V TermB = abs(tan(sin(cos(cos(TermA) + (SinSum + (TermA - AngleX))) + (AngleY - TermA))));
    const V TermC = TermB + SinDifference;
    const V TermD = SinSum - TermA;
    // An integer exponent keeps the sign of a negative cosine.
    const V TermE = pow(cos(TermC - TermA * TermD), 3);
    const V TermF = pow(cos(TermA * TermC + TermD), 2);
    const V TermG = tan(((-TermC - TermD) - TermE) - TermF);

    return {0.07 * TermG, 0.2 * TermG, 0.4 * TermG};
}

} // namespace spirell::formulas
