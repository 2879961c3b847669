#pragma once

#include "boxes/BoxTexts.hpp"
#include "render/Formula.hpp"

namespace spirell {

// The values a drawing takes from the boxes once, when it starts.
struct ViewParams {
    double ImageSize = 0;
    double ImageWidth = 0;
    double ImageHeight = 0;
    double OriginX = 0;
    double OriginY = 0;
    double zoom = 0;       // the formula's zoom value: zoom box x its multiplier
    double brightness = 0; // the formula's brightness value: box x its multiplier
};

// Reads the view for one formula. Throws RuntimeError (Overflow) when a box
// holds a number beyond the double range or a derived value leaves it, so that
// a drawing that cannot start draws nothing.
ViewParams readView(const Formula& formula, const BoxTexts& boxes);

} // namespace spirell
