#pragma once

#include "render/Colour.hpp"

namespace spirell {

// Where a drawing goes: the window's canvas, a test recorder, an image file.
class DrawingSurface {
public:
    virtual ~DrawingSurface() = default;

    // Sets one pixel of the client area; positions outside it are ignored.
    virtual void setPixel(int x, int y, Colour colour) = 0;

    // Lets pending events run; called after every column of a drawing.
    virtual void yieldToEvents() = 0;

    // Fills the whole surface with its background colour.
    virtual void clear() = 0;
};

} // namespace spirell
