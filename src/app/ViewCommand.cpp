#include "app/ViewCommand.hpp"

#include "boxes/BoxTable.hpp"

namespace spirell::app {

namespace {

// An argument as a shell reads it back: as it is when it holds only
// characters no shell treats specially, otherwise between single quotes,
// each single quote in it written as '\''.
std::string shellWord(std::string_view text) {
    const auto plain = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string_view("+-.,/:=@_%").find(c) != std::string_view::npos;
    };
    bool quoted = text.empty();
    for (const char c : text)
        quoted = quoted || !plain(c);
    if (!quoted)
        return std::string(text);
    std::string word = "'";
    for (const char c : text)
        word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

} // namespace

std::string viewCommandLine(std::string_view caption, const boxes::BoxTexts& texts) {
    std::string line = "spirell-render " + shellWord(caption);
    for (const boxes::BoxDescription& box : boxes::kBoxTable)
        // Attached with "=", a text is never taken for an option of its own,
        // whatever it holds.
        line += " " + shellWord(std::string(box.option) + "=" + texts.*box.member);
    return line + " -o " + shellWord(std::string(caption) + ".png");
}

} // namespace spirell::app
