#include "base/UserText.hpp"

#include <cstdio>
#include <vector>

namespace spirell::base {

namespace {

// Length of the valid UTF-8 sequence at the start of text and its code point,
// or 0 when the first byte does not begin one (stray, overlong, surrogate or
// beyond U+10FFFF).
std::size_t utf8Sequence(std::string_view text, char32_t& codePoint) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(0);
    std::size_t length = 0;
    char32_t lowest = 0;
    if (first < 0x80) {
        codePoint = first;
        return 1;
    } else if (first >= 0xc2 && first <= 0xdf) {
        length = 2;
        codePoint = first & 0x1f;
        lowest = 0x80;
    } else if (first >= 0xe0 && first <= 0xef) {
        length = 3;
        codePoint = first & 0x0f;
        lowest = 0x800;
    } else if (first >= 0xf0 && first <= 0xf4) {
        length = 4;
        codePoint = first & 0x07;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xc0) != 0x80)
            return 0;
        codePoint = codePoint << 6 | (byte(i) & 0x3f);
    }
    if (codePoint < lowest || codePoint > 0x10ffff || (codePoint >= 0xd800 && codePoint <= 0xdfff))
        return 0;
    return length;
}

// Characters that would break the line, move the cursor or reorder what follows.
bool unsafe(char32_t c) {
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x2029 || c == 0x200e ||
           c == 0x200f || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

void appendByteEscapes(std::string& out, std::string_view bytes) {
    for (const char c : bytes) {
        char escape[5];
        std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(c));
        out += escape;
    }
}

// The text as shown, one entry per character, each entry the characters it
// is shown as, so that a cut never splits an escape or a UTF-8 sequence.
std::vector<std::string> shownCharacters(std::string_view text) {
    std::vector<std::string> characters;
    while (!text.empty()) {
        char32_t codePoint = 0;
        std::size_t length = utf8Sequence(text, codePoint);
        std::string character;
        if (length == 0) {
            length = 1;
            appendByteEscapes(character, text.substr(0, 1));
        } else if (codePoint == '\n') {
            character = "\\n";
        } else if (codePoint == '\t') {
            character = "\\t";
        } else if (unsafe(codePoint)) {
            appendByteEscapes(character, text.substr(0, length));
        } else {
            character = text.substr(0, length);
        }
        characters.push_back(std::move(character));
        text.remove_prefix(length);
    }
    return characters;
}

} // namespace

std::string escaped(std::string_view text) {
    std::string out;
    for (const std::string& character : shownCharacters(text))
        out += character;
    return out;
}

std::string shown(std::string_view text) {
    const std::vector<std::string> characters = shownCharacters(text);
    // An escape takes as many columns as it has characters, anything else one.
    const auto widthOf = [](const std::string& character) -> std::size_t {
        return character.size() > 1 && character.front() == '\\' ? character.size() : 1;
    };
    std::size_t width = 0;
    for (const std::string& character : characters)
        width += widthOf(character);
    if (width <= kShownLength)
        return escaped(text);

    // Three quarters of the room for the start, the rest for the end.
    std::string head;
    std::size_t room = kShownLength * 3 / 4;
    std::size_t first = 0;
    for (; first < characters.size() && widthOf(characters[first]) <= room; ++first) {
        room -= widthOf(characters[first]);
        head += characters[first];
    }
    room = kShownLength - kShownLength * 3 / 4 - 1;
    std::size_t last = characters.size();
    while (last > first && widthOf(characters[last - 1]) <= room)
        room -= widthOf(characters[--last]);
    std::string tail;
    for (std::size_t i = last; i < characters.size(); ++i)
        tail += characters[i];
    return head + "…" + tail;
}

std::string quoted(std::string_view text) {
    return '"' + shown(text) + '"';
}

std::string showable(std::string_view text) {
    constexpr std::string_view kReplacement = "\xef\xbf\xbd"; // U+FFFD
    std::string out;
    while (!text.empty()) {
        char32_t codePoint = 0;
        const std::size_t length = utf8Sequence(text, codePoint);
        if (length == 0) {
            out += kReplacement;
            text.remove_prefix(1);
            continue;
        }
        if (codePoint == '\t' || codePoint == '\n' || (codePoint >= 0x20 && codePoint < 0x7f) ||
            codePoint > 0x9f) {
            out += text.substr(0, length);
        } else if (codePoint <= 0x7f) {
            // U+2400 to U+241F name the C0 controls, U+2421 DEL: E2 90 80 on.
            const char32_t symbol = codePoint == 0x7f ? 0x21 : codePoint;
            out += {'\xe2', '\x90', static_cast<char>(0x80 + symbol)};
        } else {
            out += kReplacement;
        }
        text.remove_prefix(length);
    }
    return out;
}

} // namespace spirell::base
