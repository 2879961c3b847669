#include "formulas/PixelFunctions.hpp"
#include "render/Maths.hpp"

#include <cmath>

namespace spirell::formulas {

// An absolute tangent of skewed angles, a second one whose sine holds a
// reciprocal of AngleX (fine stripes near X = 0), and the ratio of the two.
ChannelTerms fun(const PixelPoint& p) {
    using std::abs;
    using maths::cos, maths::pow, maths::sin, maths::tan;
    const double AngleY = standardAngle(p.zoom, p.Y);
    const double AngleX = standardAngle(p.zoom, p.X);

    const double TermA = abs(tan(sin(3 * AngleX - AngleY / 2) + cos(AngleY / 0.5 + 0.7 * AngleX)));
    // Only AngleX == -0.0001 exactly makes the reciprocal infinite; the sine of
    // it is then NaN, and the frame draws such a pixel black.
    const double TermB =
        abs(tan(cos(AngleX / 1.1 - 1.3 * AngleY) * sin(1.7 * AngleY + 1.9 / (AngleX + 0.0001))));
    const double TermC = TermA / (pow(TermB, 0.7) + 0.0000001);

    return {0.05 * TermA + 0.01 * TermB + 0.08 * TermC, 0.03 * TermA + 0.08 * TermB + 0.018 * TermC,
            0.19 * TermA + 0.2 * TermB + 0.001 * TermC};
}

} // namespace spirell::formulas
