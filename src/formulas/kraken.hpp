// The formula of the button "quartz" (routine kraken).
#pragma once

#include "formulas/PixelFunction.hpp"

namespace spirell::formulas {

// The ratio of x to y (rays through a point just off the origin) folded through
// a tangent and a cosine, with a power of a tangent of the x angle for stripes.
template <typename V> ChannelTerms<V> kraken(const PixelPoint<V>& p) {
    const V TurnX = (p.X / 200) * TurnConstant;
    const V TurnY = (p.Y / 200) * TurnConstant;
    const V AngleX = p.zoom * TurnX;
    const V AngleY = p.zoom * TurnY;

    // The quotient comes first; the zoom scales it afterwards.
    const V TermA = p.zoom * (TurnX / (TurnY + 0.000123));
    const V TermB = abs(
        tan(sin(cos(AngleX - cos(TermA * AngleX)) / (0.001 + TermA) + AngleX * AngleY)) * TermA);
    const V TermC = pow(abs(tan(AngleX / 4) + 0.0001), sin(TermA / 4) + 0.001);
    const V TermD = cos(sin((AngleX + TermC) * (AngleY - TermB)) * TermA);

    return {0.5 * TermC + 0.3 * TermD, 0.3 * TermC + 0.5 * TermD, 0.2 * TermC + 1.1 * TermD};
}

} // namespace spirell::formulas
