// The formula of the button "quest" (routine qwin).
#pragma once

#include "formulas/PixelFunction.hpp"

namespace spirell::formulas {

// Deeply nested sines and cosines of the angles and a ratio of the unzoomed
// angles, turned into contour bands by three absolute tangents.
template <typename V> ChannelTerms<V> qwin(const PixelPoint<V>& p) {
    const V AngleX = standardAngle(p.zoom, p.X);
    const V AngleY = standardAngle(p.zoom, p.Y);
    // The zoom does not reach this ratio, so zoom 0 still shows rays.
    const V AngleRatio = ((p.X / 200) * TurnConstant) / (((p.Y / 200) * TurnConstant) + 0.000123);

    const V TermA =
        sin((AngleY - AngleX) -
            cos(AngleX *
                cos(AngleX -
                    sin(AngleY *
                        sin(AngleY *
                            cos(AngleX * sin(AngleY * sin(AngleY - cos(AngleX - AngleY))))))))) +
        0.2;
    // Each used twice.
    const V CosA = cos(TermA);
    const V CosSum = cos(AngleX + AngleY);

    const V TermB =
        cos((0.1 + AngleRatio) -
            sin(AngleY + cos(TermA * (cos((AngleX - AngleY) + (CosA + sin(AngleY * sin(TermA)))) -
                                      sin(TermA + AngleX))))) -
        0.2;
    const V TermC = abs(
        tan(TermB *
            sin(AngleY * cos(AngleX * (cos(AngleX / (TermB + 0.000123)) *
                                       cos(AngleX * sin(AngleY * sin(AngleY * cos(AngleX)))))))));
    const V TermD = abs(tan(
        AngleX - AngleY * cos(AngleY / ((AngleX + 0.000123) +
                                        TermB * sin(AngleY + (AngleX * CosSum) * cos(TermB))))));
    // The same shape as TermD, but with cos(TermA) as the innermost factor.
    const V TermE =
        abs(tan(TermD - TermC * cos(AngleY / ((AngleX + 0.000123) +
                                              TermB * sin(AngleY + (AngleX * CosSum) * CosA)))));
    const V TermF = sin(pow(abs(TermB / (TermD + TurnConstant)), 0.5));

    return {0.02 * TermC + 0.07 * TermD + 0.1 * TermF + 0.03 * TermB + 0.004 * TermE,
            0.07 * TermC + 0.03 * TermD + 0.2 * TermF + 0.13 * TermB + 0.02 * TermE,
            0.19 * TermC + 0.01 * TermD + 0.03 * TermF + 0.19 * TermB + 0.07 * TermE};
}

} // namespace spirell::formulas
