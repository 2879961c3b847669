#pragma once

#include "render/Formula.hpp"

// The per-pixel mathematics of each formula, one file each.
namespace spirell::formulas {

ChannelTerms aries(const PixelPoint& p);

} // namespace spirell::formulas
