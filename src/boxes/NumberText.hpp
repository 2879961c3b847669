#pragma once

#include <string>
#include <string_view>

namespace spirell::boxes {

// Reads the leading number of a box text. Blanks, tabs and line feeds anywhere
// are ignored; "&H" and "&O" prefixes give hexadecimal and octal integers; an
// exponent may use E or D. Text that does not start with a number reads as 0.
// Throws RuntimeError (Overflow) for a number beyond the double range.
double readNumber(std::string_view text);

// Writes a value the way the boxes show numbers: the shortest decimal form with
// at most 15 significant digits, a full stop as decimal point, a zero before the
// point below 1, and an exponent ("1E+20") only for very large or small values.
std::string writeNumber(double value);

// The text a value is written as, read back: what a box holds after the value
// has been written into it.
double throughText(double value);

} // namespace spirell::boxes
