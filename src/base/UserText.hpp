#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace spirell::base {

// Text that came from the user or from a file may hold anything: terminal
// escape sequences, line breaks, bytes that are not UTF-8. Messages show it
// through these functions so that an error always stays one plain line.

// At most this many characters of one piece of user text appear in a message.
inline constexpr std::size_t kShownLength = 80;

// Printable UTF-8 as it is; line feeds and tabs as \n and \t; every other
// control character (C0, DEL, C1), the Unicode line breaks and direction
// controls, and each byte that is not part of valid UTF-8 as \xNN.
std::string escaped(std::string_view text);

// The escaped text, cut in the middle to about kShownLength characters with
// "…" where the cut is: the start and the end, where names differ most, stay.
std::string shown(std::string_view text);

// shown() between double quotes.
std::string quoted(std::string_view text);

// The text as a one-line box can show it: printable UTF-8, tabs and line
// feeds as they are; each other C0 control and DEL as its symbol (U+2400 on,
// "␃" for ETX), each C1 control and each byte that is not part of valid
// UTF-8 as U+FFFD "�". None of these can begin or continue a number, so a
// box reads the same number from either text.
std::string showable(std::string_view text);

} // namespace spirell::base
