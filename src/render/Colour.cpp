#include "render/Colour.hpp"

#include "lanes/Widths.hpp"

namespace spirell {

Colour colourFromLevels(const Levels& levels) {
    Colour colour;
    lanes::kernelsFor(lanes::Width::Scalar).coloursOfLevels(&levels, 1, &colour);
    return colour;
}

} // namespace spirell
