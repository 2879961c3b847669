#pragma once

#include "boxes/BoxTexts.hpp"

#include <string>
#include <string_view>

namespace spirell::app {

// The spirell-render command line that paints a formula (by its caption, or
// by its text for a formula written as text) in the view of the box texts
// into caption.png, each argument quoted for a POSIX shell where it needs it,
// so that it can be pasted into a terminal.
std::string viewCommandLine(std::string_view caption, const boxes::BoxTexts& texts,
                            std::string_view formulaText = {});

} // namespace spirell::app
