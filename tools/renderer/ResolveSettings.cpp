#include "renderer/ResolveSettings.hpp"

#include "image/PngFile.hpp"

namespace spirell::tool {

using namespace image;

RenderSettings resolveSettings(const CommandLine& line) {
    RenderSettings settings;
    if (!line.from.empty())
        settings = settingsFromTexts(readPngTexts(line.from, storedKeys()), line.from);
    if (line.formula)
        settings.formula = *line.formula;
    for (std::size_t i = 0; i < kBoxTable.size(); ++i)
        if (line.boxes[i])
            settings.boxes.*kBoxTable[i].member = *line.boxes[i];
    if (line.scale)
        settings.scale = *line.scale;
    return settings;
}

} // namespace spirell::tool
