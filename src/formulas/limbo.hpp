// The formula of the button "saffron" (routine limbo).
#pragma once

#include "formulas/PixelFunction.hpp"

namespace spirell::formulas {

// A slow wave of the bare world coordinates, mixed with the zoomed angles down
// to a single value that moves all three channels along one line through grey.
template <typename V> ChannelTerms<V> limbo(const PixelPoint<V>& p) {
    const V AngleY = standardAngle(p.zoom, p.Y) + 0.5;
    const V AngleX = standardAngle(p.zoom, p.X) + 0.5;

    // Neither the zoom nor the turn constant reaches this wave.
    const V TermA = cos(p.X / 200) * sin((p.Y / 200 + 0.000123) - 0.5);
    const V TermB = tan(sin(AngleX - AngleY) + cos(AngleX + AngleY));
    const V TermC =
        cos(((TermA - sin(TermA * cos((3 * AngleY) * TermB))) - sin((4 * AngleX) * AngleY)) -
            cos((5 * TermA) * AngleY)) -
        sin(AngleX - sin(TermA * AngleX) * TermA);
    const V SinA = sin(TermA); // used twice
    const V TermD = ((sin(TermA - 1.5) - cos(TermA + 1.235)) + tan(TermC) * TermA) -
                    SinA * cos((AngleY - TermC) *
                               cos(((TermC * TermB) * sin(TermC * SinA)) - cos(TermA * TermC)));

    return {0.15 * TermD, 0.81 * TermD, 1.11 * TermD};
}

} // namespace spirell::formulas
