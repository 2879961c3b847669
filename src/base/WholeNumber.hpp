#pragma once

#include <optional>
#include <string_view>

namespace spirell::base {

// Reads a whole number written in plain decimal digits, as thread counts,
// scales and formula indexes are given: nothing but the digits (leading zeros
// allowed), no sign, no blanks, the same in every locale. Returns nothing for
// any other text and for a number outside lowest..highest.
std::optional<long long> readWholeNumber(std::string_view text, long long lowest,
                                         long long highest);

} // namespace spirell::base
