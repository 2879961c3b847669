#include "app/ViewCommand.hpp"

#include "boxes/BoxTable.hpp"

#include <algorithm>
#include <cstdio>

namespace spirell::app {

namespace {

bool isControl(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
}

// An argument as a shell reads it back: as it is when it holds only
// characters no shell treats specially, otherwise between single quotes,
// each single quote in it written as '\''. A control character must never
// reach the terminal the line is pasted into, whose line editing obeys it
// even between quotes (ETX ends the quoted word, CR runs the line): a text
// holding one is written in ANSI-C quotes, $'...', with \xHH escapes, which
// bash, zsh and ksh turn back into the very same bytes.
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

} // namespace

std::string viewCommandLine(std::string_view caption, const boxes::BoxTexts& texts,
                            std::string_view formulaText) {
    std::string line = "spirell-render " +
                       (formulaText.empty() ? shellWord(caption)
                                            : shellWord("--formula=" + std::string(formulaText)));
    for (const boxes::BoxDescription& box : boxes::kBoxTable)
        // Attached with "=", a text is never taken for an option of its own,
        // whatever it holds.
        line += " " + shellWord(std::string(box.option) + "=" + texts.*box.member);
    return line + " -o " + shellWord(std::string(caption) + ".png");
}

} // namespace spirell::app
