// The formula of the button "gravel" (routine numb).
#pragma once

#include "formulas/PixelFunction.hpp"

namespace spirell::formulas {

// A ratio of the bare world coordinates and a long chain of sines, cosines and
// tangents of the angles, with one power of 1.5.
template <typename V> ChannelTerms<V> numb(const PixelPoint<V>& p) {
    const V AngleY = standardAngle(p.zoom, p.Y);
    const V AngleX = standardAngle(p.zoom, p.X);

    // No zoom here: the ratio stays put when the view is zoomed.
    const V TermA =
        ((p.X / 200) * TurnConstant) / ((((p.Y / 200) * TurnConstant) + 0.000123) - 0.5);
    const V CosSum = cos(AngleX + AngleY); // used twice
    const V TermB = tan(sin(AngleX - AngleY) + CosSum);

    const V T1 = tan(AngleX - sin((7 * AngleY) * TermB));
    const V S1 = sin(AngleY + AngleX / (0.001 - abs(T1 - AngleX * AngleY)));
    const V C1 = abs(cos(AngleY / ((6 * AngleX) * TermB + 0.000123) + S1));
    const V TermC = sin((AngleX * AngleY) * C1);

    const V TermD = sin((AngleY - AngleX) + cos((AngleX / (AngleY + 0.000123)) *
                                                abs(sin(TermC + sin((AngleX + AngleY) + CosSum)))));
    const V TermE = pow(abs(TermD - TermC), 1.5);
    const V TermF =
        (sin(TermC - TermD) - cos(TermA + 1.235)) + abs(tan(((AngleY * TermD) * TermC) - 1));

    return {0.07 * TermF + 0.05 * TermE + 0.4 * TermD + 0.38 * TermC,
            0.12 * TermF + 0.03 * TermE + 0.1 * TermD + 0.26 * TermC,
            0.4 * TermF + 0.1 * TermE + 0.051 * TermD + 0.11 * TermC};
}

} // namespace spirell::formulas
