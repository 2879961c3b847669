#include "image/RenderSettings.hpp"

#include "image/Errors.hpp"
#include "image/UserText.hpp"

#include <charconv>

namespace spirell::image {

TextChunks storedTexts(const char* routine, const RenderSettings& settings, const char* software) {
    const BoxTexts& boxes = settings.boxes;
    return {
        {keys::formula, routine},
        {keys::x, boxes.TextOne},
        {keys::y, boxes.TextTwo},
        {keys::size, boxes.TextThree},
        {keys::zoom, boxes.TextFour},
        {keys::brightness, boxes.Textfive},
        {keys::scale, std::to_string(settings.scale)},
        {"Software", software},
    };
}

RenderSettings settingsFromTexts(const std::map<std::string, std::string>& texts,
                                 const std::string& fileName) {
    const auto text = [&](const char* key) -> const std::string& {
        const auto found = texts.find(key);
        if (found == texts.end())
            throw InputError(shown(fileName) + " holds no \"" + key +
                             "\" text: it was not made by spirell-render");
        return found->second;
    };
    RenderSettings settings;
    settings.formula = text(keys::formula);
    settings.boxes.TextOne = text(keys::x);
    settings.boxes.TextTwo = text(keys::y);
    settings.boxes.TextThree = text(keys::size);
    settings.boxes.TextFour = text(keys::zoom);
    settings.boxes.Textfive = text(keys::brightness);

    const std::string& scale = text(keys::scale);
    const char* end = scale.data() + scale.size();
    const auto [stop, error] = std::from_chars(scale.data(), end, settings.scale);
    if (error != std::errc{} || stop != end || settings.scale < 1 || settings.scale > kMaxScale)
        throw InputError(shown(fileName) + " holds a bad scale " + quoted(scale));
    return settings;
}

} // namespace spirell::image
