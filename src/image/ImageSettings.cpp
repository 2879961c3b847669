#include "image/ImageSettings.hpp"

#include "base/Errors.hpp"
#include "base/UserText.hpp"
#include "base/WholeNumber.hpp"
#include "formulas/Catalogue.hpp"
#include "formulas/TextFormulas.hpp"

namespace spirell::image {

std::vector<std::string> storedKeys() {
    std::vector<std::string> keys{keys::formula, keys::formulaText};
    for (const boxes::BoxDescription& box : boxes::kBoxTable)
        keys.push_back(box.pngKey);
    keys.push_back(keys::scale);
    keys.push_back(keys::frame);
    return keys;
}

TextChunks storedTexts(const char* routine, const ImageSettings& settings, const char* software) {
    TextChunks texts{{keys::formula, routine}};
    if (!settings.formulaText.empty())
        texts.emplace_back(keys::formulaText, settings.formulaText);
    for (const boxes::BoxDescription& box : boxes::kBoxTable)
        texts.emplace_back(box.pngKey, settings.boxes.*box.member);
    texts.emplace_back(keys::scale, std::to_string(settings.scale));
    if (settings.frame)
        texts.emplace_back(keys::frame, frameSizeText(*settings.frame));
    texts.emplace_back("Software", software);
    return texts;
}

ImageSettings settingsFromTexts(const std::map<std::string, std::string>& texts,
                                const std::string& fileName) {
    const auto text = [&](const char* key) -> const std::string& {
        const auto found = texts.find(key);
        if (found == texts.end())
            throw base::InputError(base::shown(fileName) + " holds no \"" + key +
                                   "\" text: it was not made by spirell-render");
        return found->second;
    };
    ImageSettings settings;
    settings.formula = text(keys::formula);
    if (const auto formula = texts.find(keys::formulaText); formula != texts.end())
        settings.formulaText = formula->second;
    for (const boxes::BoxDescription& box : boxes::kBoxTable)
        settings.boxes.*box.member = text(box.pngKey);

    const std::string& scale = text(keys::scale);
    const std::optional<long long> scaleValue = base::readWholeNumber(scale, 1, kMaxScale);
    if (!scaleValue)
        throw base::InputError(base::shown(fileName) + " holds a bad scale " + base::quoted(scale));
    settings.scale = static_cast<int>(*scaleValue);

    if (const auto frame = texts.find(keys::frame); frame != texts.end()) {
        settings.frame = readFrameSize(frame->second);
        if (!settings.frame)
            throw base::InputError(base::shown(fileName) + " holds a bad frame " +
                                   base::quoted(frame->second));
    }
    return settings;
}

std::optional<FrameSize> readFrameSize(std::string_view text) {
    const auto times = text.find('x');
    if (times == std::string_view::npos)
        return std::nullopt;
    const auto side = [](std::string_view digits) {
        return base::readWholeNumber(digits, 1, static_cast<long long>(base::kMaxSide));
    };
    const std::optional<long long> width = side(text.substr(0, times));
    const std::optional<long long> height = side(text.substr(times + 1));
    if (!width || !height)
        return std::nullopt;
    return FrameSize{static_cast<std::uint32_t>(*width), static_cast<std::uint32_t>(*height)};
}

std::string frameSizeText(const FrameSize& size) {
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

ImageSettings settingsOf(const formulas::Formula& formula, const boxes::BoxTexts& boxes, int scale,
                         std::optional<FrameSize> frame) {
    return {formula.routine, boxes, scale, frame, formula.text ? formula.text : ""};
}

const formulas::Formula* formulaOf(const ImageSettings& settings) {
    if (!settings.formulaText.empty())
        return &formulas::formulaOfText(settings.formulaText);
    return formulas::findFormula(settings.formula);
}

ImageSettings readStoredSettings(const std::string& path) {
    return settingsFromTexts(readPngTexts(path, storedKeys()), path);
}

} // namespace spirell::image
