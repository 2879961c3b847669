#include "formulas/PixelFunctions.hpp"
#include "render/Maths.hpp"

#include <cmath>

namespace spirell::formulas {

// Absolute tangents of two sines of shifted cosines; the second term feeds the
// first back into its arguments.
ChannelTerms blood(const PixelPoint& p) {
    using std::abs;
    using maths::cos, maths::sin, maths::tan;
    const double AngleY = standardAngle(p.zoom, p.Y);
    const double AngleX = standardAngle(p.zoom, p.X);

    const double TermA = abs(tan(sin(cos(AngleY - AngleX / 2) + (AngleX + AngleY)) +
                                 sin(cos(AngleX - AngleY / 2) + (AngleY - AngleX))));
    const double TermB = abs(tan(sin(cos(AngleY - AngleX) + ((AngleX - TermA) + AngleY)) +
                                 sin(cos(AngleX + AngleY) + ((AngleY - AngleX) + TermA))));

    return {0.02 * TermA + 0.15 * TermB, 0.06 * TermA + 0.09 * TermB, 0.08 * TermA + 0.02 * TermB};
}

} // namespace spirell::formulas
