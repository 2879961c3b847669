#pragma once

#include "render/Formula.hpp"

#include <array>
#include <string_view>

namespace spirell {

inline constexpr int kFormulaCount = 19;

// All nineteen formula buttons, top to bottom, with each formula's departures
// from the standard frame.
const std::array<Formula, kFormulaCount>& formulaCatalogue();

// Finds a formula by caption ("ripple"), routine name ("aries") or index ("0").
const Formula* findFormula(std::string_view name);

} // namespace spirell
