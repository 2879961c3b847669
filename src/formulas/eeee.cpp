#include "formulas/PixelFunctions.hpp"
#include "render/Maths.hpp"

#include <cmath>

namespace spirell::formulas {

// Two absolute tangents of the angles' sum and difference, and their product
// modulated by a cosine of nested sines and cosines: a signed third term.
ChannelTerms eeee(const PixelPoint& p) {
    using std::abs;
    using maths::cos, maths::sin, maths::tan;
    const double AngleY = standardAngle(p.zoom, p.Y);
    const double AngleX = standardAngle(p.zoom, p.X);

    const double TermA = abs(tan(sin(AngleX - AngleY) + cos(AngleX + AngleY)));
    const double TermB = abs(tan(cos(AngleX - AngleY) + sin(AngleY - AngleX)));
    const double InnerA = cos(sin(AngleX)) * sin(AngleX - cos(TermA / 17));
    const double InnerB = cos(InnerA + (AngleY - TermA * TermB));
    const double TermC = cos(AngleY / 2 - InnerB) * (TermA * TermB);

    return {0.05 * TermA + 0.07 * TermC + 0.1 * TermB, 0.03 * TermA + 0.05 * TermC + 0.08 * TermB,
            0.09 * TermA + 0.01 * TermC + 0.02 * TermB};
}

} // namespace spirell::formulas
