#include "formulas/PixelFunctions.hpp"
#include "render/Maths.hpp"

#include <cmath>

namespace spirell::formulas {

// The absolute angles raised to a power that varies from pixel to pixel, mixed
// in one absolute tangent that drives a single ramp from black to white.
ChannelTerms sizZle(const PixelPoint& p) {
    using std::abs;
    using maths::cos, maths::pow, maths::sin, maths::tan;
    const double AngleX = standardAngle(p.zoom, p.X);
    const double AngleY = standardAngle(p.zoom, p.Y);

    const double TermA = abs(sin(sin((AngleX - AngleY) + cos(AngleY - AngleX)) +
                                 sin((AngleY + AngleX) + cos(AngleX + AngleY))));
    // pow gives 0 ^ 0 = 1 and 0 for a zero base under a positive exponent.
    const double PowerX = pow(abs(AngleX), TermA);
    const double PowerY = pow(abs(AngleY), TermA);
    const double TermB = abs(tan(sin(PowerY - PowerX) + cos(PowerX + PowerY)));

    return {0.03 * TermB, 0.08 * TermB, 0.13 * TermB};
}

} // namespace spirell::formulas
