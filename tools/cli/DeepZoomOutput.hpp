#pragma once

#include "cli/CommandLine.hpp"
#include "drawing/Computing.hpp"
#include "image/DeepZoom.hpp"
#include "image/ImagePlan.hpp"
#include "image/ImageSettings.hpp"

#include <string>

namespace spirell::cli {

// The files of a pyramid named NAME.dzi: the tiles in NAME_files, which
// also holds view.png (the view's texts over a small picture of it, so that
// --from repeats it) and OpenSeadragon, and the viewer page NAME.html.
struct DeepZoomNames {
    std::string dzi;
    std::string files;     // the folder, as a path
    std::string filesName; // its last name, as the page refers to it
    std::string html;
    std::string viewPng;
};
// Throws InputError unless the path ends in ".dzi" after a name.
DeepZoomNames deepZoomNames(const std::string& dzi);

// The viewer page: the template with the view and the pyramid's layout filled in.
std::string viewerPage(const std::string& pageTemplate, const image::ImagePlan& plan,
                       const image::ImageSettings& settings, const image::DeepZoomLayout& layout,
                       const std::string& filesName);

// The spirell-render command line that paints the view into a PNG, as the
// window's Copy view gives it, with the scale and the frame when they are not
// the defaults; quoted for a POSIX shell.
std::string viewCommand(const image::ImageSettings& settings, const char* caption);

// Writes the pyramid of the command line's view (--deep-zoom): the tiles and
// view.png into a hidden folder, named NAME_files when complete, then the
// page and last the .dzi, each replaced only when complete. An older .dzi of
// that name is removed first, so that none ever describes tiles it did not
// come with.
void renderDeepZoom(const CommandLine& line, const drawing::Computing& computing);

} // namespace spirell::cli
