#pragma once

#include <cstdint>

// Plain data only: the per-instruction-set sources include this too.
namespace spirell::formulas {

// A pixel colour, each channel 0..255.
struct Colour {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
};

// The three channel levels of a pixel before they are clamped to 0..255.
struct Levels {
    double red = 0;
    double green = 0;
    double blue = 0;
};

} // namespace spirell::formulas
