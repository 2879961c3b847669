#pragma once

#include "cli/CommandLine.hpp"
#include "image/ImageSettings.hpp"

namespace spirell::cli {

// The defaults, or the settings stored in the --from image, with every option
// of the command line laid over them.
image::ImageSettings resolveSettings(const CommandLine& line);

} // namespace spirell::cli
