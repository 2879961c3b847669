#pragma once

#include <cstdint>

namespace spirell {

// A pixel colour; value() is the classic 24-bit number red + 256 green + 65536 blue.
struct Colour {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;

    constexpr std::uint32_t value() const { return red + 256u * green + 65536u * blue; }
    constexpr bool operator==(const Colour&) const = default;
};

// The three channel levels of a pixel before they are clamped to 0..255.
struct Levels {
    double red = 0;
    double green = 0;
    double blue = 0;
};

// Clamps each level to 0..255 and rounds half to even; a level that is not a
// number becomes 0.
Colour colourFromLevels(const Levels& levels);

} // namespace spirell
