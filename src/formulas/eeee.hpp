// The formula of the button "thistle" (routine eeee).
#pragma once

#include "formulas/PixelFunction.hpp"

namespace spirell::formulas {

// Two absolute tangents of the angles' sum and difference, and their product
// modulated by a cosine of nested sines and cosines: a signed third term.
template <typename V> ChannelTerms<V> eeee(const PixelPoint<V>& p) {
    const V AngleY = standardAngle(p.zoom, p.Y);
    const V AngleX = standardAngle(p.zoom, p.X);

    const V TermA = abs(tan(sin(AngleX - AngleY) + cos(AngleX + AngleY)));
    const V TermB = abs(tan(cos(AngleX - AngleY) + sin(AngleY - AngleX)));
    const V InnerA = cos(sin(AngleX)) * sin(AngleX - cos(TermA / 17));
    const V InnerB = cos(InnerA + (AngleY - TermA * TermB));
    const V TermC = cos(AngleY / 2 - InnerB) * (TermA * TermB);

    return {0.05 * TermA + 0.07 * TermC + 0.1 * TermB, 0.03 * TermA + 0.05 * TermC + 0.08 * TermB,
            0.09 * TermA + 0.01 * TermC + 0.02 * TermB};
}

} // namespace spirell::formulas
