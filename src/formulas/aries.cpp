#include "formulas/PixelFunctions.hpp"
#include "render/Maths.hpp"

#include <cmath>

namespace spirell::formulas {

// Absolute tangents of sums, differences and the product of the two angles; the
// first term feeds a second tangent back into its argument.
ChannelTerms aries(const PixelPoint& p) {
    using std::abs;
    using maths::cos, maths::sin, maths::tan;
    const double AngleY = standardAngle(p.zoom, p.Y);
    const double AngleX = standardAngle(p.zoom, p.X);

    const double U1 = tan(sin((AngleX + AngleY) + cos(AngleX + AngleY)));
    const double TermA = abs(tan(sin(AngleY * AngleX + cos(AngleX - AngleY)) - abs(U1)));
    const double U2 = cos((AngleY * AngleX + AngleY) + cos(AngleY - AngleX));
    const double TermB = abs(tan(sin((AngleY - AngleX) + cos(AngleX - AngleY)) - U2));
    const double U3 = sin((AngleX + AngleY) + cos(AngleX + AngleY));
    const double TermC = abs(tan(sin(AngleY - AngleX * cos(AngleX - AngleY)) + U3));

    return {0.0152 * TermA + 0.04 * TermB + 0.0591 * TermC,
            0.01 * TermA + 0.05131 * TermB + 0.036 * TermC,
            0.023131 * TermA + 0.02 * TermB + 0.013 * TermC};
}

} // namespace spirell::formulas
