// The formula of the button "bramble" (routine joke).
#pragma once

#include "formulas/PixelFunction.hpp"

namespace spirell::formulas {

// Three stages: absolute tangents of sines of mixed angle sums (one with the
// angles' product), plain sums of sines and cosines of those, and absolute
// tangents of the sums.
template <typename V> ChannelTerms<V> joke(const PixelPoint<V>& p) {
    const V AngleY = standardAngle(p.zoom, p.Y);
    const V AngleX = standardAngle(p.zoom, p.X);

    const V TermA =
        abs(tan(sin(cos(AngleX + AngleY) + (sin(AngleX * AngleY) + (AngleX - AngleY)))));
    // The small shift sits on AngleX inside the cosine only.
    const V TermB = abs(
        tan(sin(sin(AngleY - AngleX) + (cos(AngleY - (AngleX + 0.00001)) + (AngleX + AngleY)))));
    const V TermC = sin(TermB - TermA) + cos(TermA + TermB);
    const V TermD = sin(TermA + TermB) + sin(TermA - TermB);
    const V TermE = abs(tan(sin(TermD - TermC) + cos(TermC + TermD)));
    const V TermF = abs(tan(sin(TermC + TermD) + sin(TermC - TermD)));

    return {0.05 * TermE + 0.08 * TermF + 0.01 * TermD, 0.03 * TermE + 0.05 * TermF + 0.07 * TermD,
            0.09 * TermE + 0.02 * TermF + 0.04 * TermD};
}

} // namespace spirell::formulas
