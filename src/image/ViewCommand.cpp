#include "image/ViewCommand.hpp"

#include "boxes/BoxTable.hpp"

#include <algorithm>
#include <cstdio>

namespace spirell::image {

namespace {

bool isControl(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
}

} // namespace

// Inside single quotes a quote is written '\\''; bash, zsh and ksh turn the
// escapes of $'...' back into the very same bytes.
std::string shellWord(std::string_view text) {
    const auto plain = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string_view("+-.,/:=@_%").find(c) != std::string_view::npos;
    };
    if (!text.empty() && std::all_of(text.begin(), text.end(), plain))
        return std::string(text);
    if (std::none_of(text.begin(), text.end(), isControl)) {
        std::string word = "'";
        for (const char c : text)
            word += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return word + "'";
    }
    std::string word = "$'";
    for (const char c : text) {
        if (isControl(c)) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(c));
            word += escape;
        } else {
            if (c == '\'' || c == '\\')
                word += '\\';
            word += c;
        }
    }
    return word + "'";
}

std::string viewCommandLine(std::string_view caption, const ImageSettings& settings) {
    const std::string& formulaText = settings.formulaText;
    const boxes::BoxTexts& texts = settings.boxes;
    std::string line = "spirell-render " +
                       (formulaText.empty() ? shellWord(caption)
                                            : shellWord("--formula=" + std::string(formulaText)));
    for (const boxes::BoxDescription& box : boxes::kBoxTable)
        // Attached with "=", a text is never taken for an option of its own,
        // whatever it holds.
        line += " " + shellWord(std::string(box.option) + "=" + texts.*box.member);
    if (settings.scale != 1)
        line += " --scale=" + std::to_string(settings.scale);
    if (settings.frame)
        line += " --frame=" + frameSizeText(*settings.frame);
    return line + " -o " + shellWord(std::string(caption) + ".png");
}

} // namespace spirell::image
