#pragma once

#include "cli/CommandLine.hpp"
#include "drawing/Computing.hpp"

namespace spirell::cli {

// Paints the flight through the command line's keyframes into numbered PNG
// frames or a video, with a line of progress in frames. Throws InputError
// for bad keyframes, options or output names, video::UnsupportedVideo for a
// video this FFmpeg cannot make, and RenderFailure or video::VideoFailure
// when writing fails.
void animate(const CommandLine& line, const drawing::Computing& computing);

} // namespace spirell::cli
