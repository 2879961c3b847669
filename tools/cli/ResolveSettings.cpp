#include "cli/ResolveSettings.hpp"

#include "image/ImageSettings.hpp"

namespace spirell::cli {

using namespace image;

ImageSettings resolveSettings(const CommandLine& line) {
    ImageSettings settings;
    if (!line.from.empty())
        settings = readStoredSettings(line.from);
    if (line.formula)
        settings.formula = *line.formula;
    for (std::size_t i = 0; i < boxes::kBoxTable.size(); ++i)
        if (line.boxes[i])
            settings.boxes.*boxes::kBoxTable[i].member = *line.boxes[i];
    if (line.scale)
        settings.scale = *line.scale;
    if (line.frame)
        settings.frame = *line.frame;
    return settings;
}

} // namespace spirell::cli
