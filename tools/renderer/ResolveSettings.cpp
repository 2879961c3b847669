#include "renderer/ResolveSettings.hpp"

#include "image/PngFile.hpp"

namespace spirell::tool {

using namespace image;

RenderSettings resolveSettings(const CommandLine& line) {
    RenderSettings settings;
    if (!line.from.empty())
        settings =
            settingsFromTexts(readPngTexts(line.from, {keys::formula, keys::x, keys::y, keys::size,
                                                       keys::zoom, keys::brightness, keys::scale}),
                              line.from);
    if (line.formula)
        settings.formula = *line.formula;
    if (line.x)
        settings.boxes.TextOne = *line.x;
    if (line.y)
        settings.boxes.TextTwo = *line.y;
    if (line.size)
        settings.boxes.TextThree = *line.size;
    if (line.zoom)
        settings.boxes.TextFour = *line.zoom;
    if (line.brightness)
        settings.boxes.Textfive = *line.brightness;
    if (line.scale)
        settings.scale = *line.scale;
    return settings;
}

} // namespace spirell::tool
