#include "formulas/PixelFunctions.hpp"
#include "render/Maths.hpp"

#include <cmath>

namespace spirell::formulas {

// Two absolute tangents: the cosine of the angles' sum plus their difference,
// and the cosine of the difference plus the sum; a lattice along both diagonals.
ChannelTerms dune(const PixelPoint& p) {
    using std::abs;
    using maths::cos, maths::tan;
    const double AngleY = standardAngle(p.zoom, p.Y);
    const double AngleX = standardAngle(p.zoom, p.X);

    const double TermA = abs(tan(cos(AngleX + AngleY) + (AngleX - AngleY)));
    const double TermB = abs(tan(cos(AngleY - AngleX) + (AngleX + AngleY)));

    return {0.9 * TermA + 0.1 * TermB, 0.3 * TermA + 0.2 * TermB, 0.05 * TermA + 0.4 * TermB};
}

} // namespace spirell::formulas
