#pragma once

#include "image/ImageSettings.hpp"

#include <string>
#include <string_view>

namespace spirell::image {

// An argument as a POSIX shell reads it back: as it is when it holds only
// characters no shell treats specially, otherwise between single quotes; a
// text holding a control character in ANSI-C quotes, $'...', with \xHH
// escapes, since a control character must never reach the terminal the line
// is pasted into (ETX ends a quoted word there, CR runs the line).
std::string shellWord(std::string_view text);

// The spirell-render command line that paints the settings' view (a formula
// by its caption, or by its text for a formula written as text; the scale and
// the frame where they are not the defaults) into caption.png, each argument
// quoted by shellWord, so that it can be pasted into a terminal.
std::string viewCommandLine(std::string_view caption, const ImageSettings& settings);

} // namespace spirell::image
