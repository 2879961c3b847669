#pragma once

#include "boxes/BoxTexts.hpp"

#include <string>
#include <string_view>

namespace spirell::app {

// The spirell-render command line that paints a formula (by its caption) in
// the view of the box texts into caption.png, each argument quoted for a
// POSIX shell where it needs it, so that it can be pasted into a terminal.
std::string viewCommandLine(std::string_view caption, const boxes::BoxTexts& texts);

} // namespace spirell::app
