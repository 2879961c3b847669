// The formula of the button "ochre" (routine rave).
#pragma once

#include "formulas/PixelFunction.hpp"

namespace spirell::formulas {

// A cosine of the angle difference bent by a 0.4th power, fed through two
// chained absolute tangents, plus a tangent of a nested cosine.
template <typename V> ChannelTerms<V> rave(const PixelPoint<V>& p) {
    const V AngleY = standardAngle(p.zoom, p.Y);
    const V AngleX = standardAngle(p.zoom, p.X);

    // On the diagonal the base is 0 and so is its power.
    const V TermA = cos((AngleX - AngleY) + pow(abs(sin(AngleX - AngleY)), 0.4));
    const V TermB = sin((AngleY - AngleX) + TermA) + cos(AngleY + AngleX / 3);
    const V TermC = abs((tan(sin(AngleY)) - AngleX) + cos(AngleX - AngleY));
    const V TermD = sin((AngleX + AngleY) + cos(AngleX + AngleY));
    const V TermE = abs(tan(TermB * TermC + TermD));
    const V TermF = abs(tan(TermE * TermC + TermD));
    const V TermG =
        abs(tan(((AngleX * TermE) * TermB) +
                cos(TermA * cos((AngleY - AngleX) +
                                ((cos(TermB) + sin(AngleX * sin(TermA))) - cos(TermB + AngleY))))));

    return {0.05 * TermB + 0.07 * TermE + 0.04 * TermG + 0.01 * TermF,
            0.03 * TermB + 0.03 * TermE + 0.05 * TermG + 0.04 * TermF,
            0.01 * TermB + 0.01 * TermE + 0.001 * TermG + 0.07 * TermF};
}

} // namespace spirell::formulas
