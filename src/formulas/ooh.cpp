#include "formulas/PixelFunctions.hpp"
#include "render/Maths.hpp"

#include <cmath>

namespace spirell::formulas {

// A chain of tangents, sines and cosines ending in one tangent that drives a
// single ramp from black through deep blue to white.
ChannelTerms ooh(const PixelPoint& p) {
    using std::abs;
    using maths::cos, maths::pow, maths::sin, maths::tan;
    const double AngleY = standardAngle(p.zoom, p.Y) + 0.5;
    const double AngleX = standardAngle(p.zoom, p.X) + 0.5;

    const double TermA = abs(tan(sin(AngleX - AngleY) + cos(AngleX + AngleY))) / 7;
    const double TermB = abs(
        tan(sin(cos(cos(TermA) + (sin(AngleX + AngleY) + (TermA - AngleX))) + (AngleY - TermA))));
    const double TermC = TermB + sin(AngleX - AngleY);
    const double TermD = sin(AngleX + AngleY) - TermA;
    // An integer exponent keeps the sign of a negative cosine.
    const double TermE = pow(cos(TermC - TermA * TermD), 3);
    const double TermF = pow(cos(TermA * TermC + TermD), 2);
    const double TermG = tan(((-TermC - TermD) - TermE) - TermF);

    return {0.07 * TermG, 0.2 * TermG, 0.4 * TermG};
}

} // namespace spirell::formulas
