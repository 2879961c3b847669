#pragma once

#include "formulas/Formula.hpp"
#include "formulas/RoutineNames.hpp"

#include <array>
#include <string_view>

namespace spirell::formulas {

// All nineteen formula buttons, top to bottom, with each formula's departures
// from the standard frame.
const std::array<Formula, kFormulaCount>& formulaCatalogue();

// Finds a formula by caption ("ripple"), routine name ("aries") or index ("0").
const Formula* findFormula(std::string_view name);

} // namespace spirell::formulas
