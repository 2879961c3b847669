#pragma once

#include "image/RenderSettings.hpp"
#include "renderer/CommandLine.hpp"

namespace spirell::tool {

// The defaults, or the settings stored in the --from image, with every option
// of the command line laid over them.
image::RenderSettings resolveSettings(const CommandLine& line);

} // namespace spirell::tool
