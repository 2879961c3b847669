#pragma once

#include "formulas/Colour.hpp"

#include <cstdint>

namespace spirell::drawing {

// The classic 24-bit number of a colour: red + 256 green + 65536 blue.
constexpr std::uint32_t colourValue(const formulas::Colour& colour) {
    return colour.red + 256u * colour.green + 65536u * colour.blue;
}

// Clamps each level to 0..255 and rounds half to even; a level that is not a
// number becomes 0.
formulas::Colour colourFromLevels(const formulas::Levels& levels);

} // namespace spirell::drawing
