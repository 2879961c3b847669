#include "image/RenderSettings.hpp"

#include "image/Errors.hpp"
#include "image/UserText.hpp"

#include <charconv>

namespace spirell::image {

std::vector<std::string> storedKeys() {
    std::vector<std::string> keys{keys::formula};
    for (const BoxDescription& box : kBoxTable)
        keys.push_back(box.pngKey);
    keys.push_back(keys::scale);
    return keys;
}

TextChunks storedTexts(const char* routine, const RenderSettings& settings, const char* software) {
    TextChunks texts{{keys::formula, routine}};
    for (const BoxDescription& box : kBoxTable)
        texts.emplace_back(box.pngKey, settings.boxes.*box.member);
    texts.emplace_back(keys::scale, std::to_string(settings.scale));
    texts.emplace_back("Software", software);
    return texts;
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
    for (const BoxDescription& box : kBoxTable)
        settings.boxes.*box.member = text(box.pngKey);

    const std::string& scale = text(keys::scale);
    const char* end = scale.data() + scale.size();
    const auto [stop, error] = std::from_chars(scale.data(), end, settings.scale);
    if (error != std::errc{} || stop != end || settings.scale < 1 || settings.scale > kMaxScale)
        throw InputError(shown(fileName) + " holds a bad scale " + quoted(scale));
    return settings;
}

} // namespace spirell::image
