#pragma once

#include <cstdint>

namespace spirell::base {

// The limits every layer keeps to, each defined once here.

// No image may have more pixels than this.
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 31;
// PNG keeps each side of an image in 31 bits.
inline constexpr std::uint64_t kMaxSide = kMaxPixels - 1;

// The most computing threads anyone may ask for, through SPIRELL_THREADS or
// spirell-render's --threads.
inline constexpr unsigned kMaxThreads = 1024;

} // namespace spirell::base
