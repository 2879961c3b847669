#pragma once

#include <iterator>

namespace spirell::formulas {

// The routine names of the formulas, in the order of their buttons. The
// catalogue and every table of per-pixel functions follow this order, and a
// picture stores its formula under this name.
inline constexpr const char* kRoutineNames[] = {
    "aries",  "blood", "celt", "dune", "eeee", "fun",  "grin", "hix",    "ice",  "joke",
    "kraken", "limbo", "numb", "ooh",  "Punk", "qwin", "rave", "sizZle", "Tame",
};
inline constexpr int kFormulaCount = static_cast<int>(std::size(kRoutineNames));

} // namespace spirell::formulas
