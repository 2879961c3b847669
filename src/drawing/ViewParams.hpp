#pragma once

#include "boxes/BoxTexts.hpp"
#include "formulas/Formula.hpp"

namespace spirell::drawing {

// The values a drawing takes from the boxes once, when it starts.
struct ViewParams {
    double imageSize = 0;
    double imageWidth = 0;
    double imageHeight = 0;
    double originX = 0;
    double originY = 0;
    double zoom = 0;       // the formula's zoom value: zoom box x its multiplier
    double brightness = 0; // the formula's brightness value: box x its multiplier
};

// Reads the view for one formula. Throws RuntimeError (Overflow) when a box
// holds a number beyond the double range or a derived value leaves it, so that
// a drawing that cannot start draws nothing.
ViewParams readView(const formulas::Formula& formula, const boxes::BoxTexts& texts);

} // namespace spirell::drawing
