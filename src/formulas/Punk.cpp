#include "formulas/PixelFunctions.hpp"
#include "render/Maths.hpp"

#include <cmath>

namespace spirell::formulas {

// A cascade of sine, cosine and tangent terms, each built on the ones before,
// and the ratio of two products of them.
ChannelTerms Punk(const PixelPoint& p) {
    using std::abs;
    using maths::cos, maths::sin, maths::tan;
    const double AngleY = standardAngle(p.zoom, p.Y) + 0.5;
    const double AngleX = standardAngle(p.zoom, p.X) + 0.5;

    const double TermA = sin(AngleX - AngleY) + cos(AngleX + AngleY);
    const double TermB = abs(sin(TermA - AngleY) + cos(AngleX + AngleY));
    const double TermC = tan(cos(TermB - AngleY) - sin(AngleX + TermA));
    const double TermD = abs(tan(sin(TermB - TermC) + cos(TermB + TermC)));
    const double TermE = abs(tan(cos(TermB - TermC) - sin(TermB + TermC)));
    const double TermF = (TermD * TermB) / (0.0000001 + TermE * TermC);

    return {(0.05 * TermD + 0.05 * TermE) + 0.008 * TermF,
            (0.03 * TermD + 0.04 * TermE) + 0.01 * TermF,
            (0.09 * TermD + 0.02 * TermE) + 0.04 * TermF};
}

} // namespace spirell::formulas
