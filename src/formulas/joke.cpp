#include "formulas/PixelFunctions.hpp"
#include "render/Maths.hpp"

#include <cmath>

namespace spirell::formulas {

// Three stages: absolute tangents of sines of mixed angle sums (one with the
// angles' product), plain sums of sines and cosines of those, and absolute
// tangents of the sums.
ChannelTerms joke(const PixelPoint& p) {
    using std::abs;
    using maths::cos, maths::sin, maths::tan;
    const double AngleY = standardAngle(p.zoom, p.Y);
    const double AngleX = standardAngle(p.zoom, p.X);

    const double TermA =
        abs(tan(sin(cos(AngleX + AngleY) + (sin(AngleX * AngleY) + (AngleX - AngleY)))));
    // The small shift sits on AngleX inside the cosine only.
    const double TermB = abs(
        tan(sin(sin(AngleY - AngleX) + (cos(AngleY - (AngleX + 0.00001)) + (AngleX + AngleY)))));
    const double TermC = sin(TermB - TermA) + cos(TermA + TermB);
    const double TermD = sin(TermA + TermB) + sin(TermA - TermB);
    const double TermE = abs(tan(sin(TermD - TermC) + cos(TermC + TermD)));
    const double TermF = abs(tan(sin(TermC + TermD) + sin(TermC - TermD)));

    return {0.05 * TermE + 0.08 * TermF + 0.01 * TermD, 0.03 * TermE + 0.05 * TermF + 0.07 * TermD,
            0.09 * TermE + 0.02 * TermF + 0.04 * TermD};
}

} // namespace spirell::formulas
