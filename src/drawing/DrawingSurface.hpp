#pragma once

#include "formulas/Colour.hpp"

#include <limits>

namespace spirell::drawing {

// Where a drawing goes: the window's canvas, a test recorder. Positions are
// the image's own: column x and row y, both from 0 at its top left; the
// surface places the image where it wants it.
class DrawingSurface {
public:
    virtual ~DrawingSurface() = default;

    // Sets one pixel of the image; positions the surface cannot show are ignored.
    virtual void setPixel(int x, int y, formulas::Colour colour) = 0;

    // Lets pending events run; called after every column of a drawing.
    virtual void yieldToEvents() = 0;

    // Fills the whole surface with its background colour.
    virtual void clear() = 0;

    // The positions that show: columns 0 to width - 1, rows 0 to height - 1.
    // A drawing need not compute the pixels it would set elsewhere.
    struct Size {
        int width;
        int height;
    };
    virtual Size shownSize() const {
        return {std::numeric_limits<int>::max(), std::numeric_limits<int>::max()};
    }
};

} // namespace spirell::drawing
