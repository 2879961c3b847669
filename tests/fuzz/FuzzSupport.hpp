#pragma once

#include "boxes/BoxTable.hpp"

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

// The entry point every fuzz target defines; libFuzzer calls it, and so does
// the corpus replay of the test suite.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace spirell::fuzz {

// A broken invariant: say which and abort, which libFuzzer records as a crash
// with its input and the corpus replay as a failed test.
[[noreturn]] inline void fail(const char* condition, const std::string& detail, const char* file,
                              int line) {
    std::fprintf(stderr, "%s:%d: broken: %s\n    %s\n", file, line, condition, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

// The window runs under the user's regional settings, so the targets take the
// locale from the environment too; the corpus replay also runs under one whose
// decimal point is a comma, and SPIRELL_EXPECT_DECIMAL_COMMA makes sure of it.
inline void useEnvironmentLocale() {
    static const bool done = [] {
        std::setlocale(LC_ALL, "");
        if (std::getenv("SPIRELL_EXPECT_DECIMAL_COMMA") &&
            std::strcmp(std::localeconv()->decimal_point, ",") != 0) {
            std::fprintf(stderr, "expected a decimal comma, the locale has \"%s\"\n",
                         std::localeconv()->decimal_point);
            std::abort();
        }
        return true;
    }();
    (void)done;
}

// Text in double quotes with control characters and non-ASCII bytes escaped,
// so that a failure message shows exactly what was read.
inline std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + '"';
}

// A double with every bit visible, whatever the locale: shortest round-trip
// decimal and hexadecimal.
inline std::string exact(double value) {
    char buffer[64];
    const auto decimal = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, decimal.ptr);
    const auto hex = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::hex);
    return text + " (0x" + std::string(buffer, hex.ptr) + ")";
}

inline std::string describe(const boxes::BoxTexts& boxes) {
    std::string text;
    for (const boxes::BoxDescription& box : boxes::kBoxTable)
        text += (text.empty() ? "[" : " | ") + quoted(boxes.*box.member);
    return text + "]";
}

// The input split at line feeds, so that seed files stay readable: one line
// per item. A line feed inside a box text is left to the number fuzzer.
inline std::vector<std::string_view> lines(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> result;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        result.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

// Box texts from lines first, first + 1, ... first + 4; a missing line keeps
// the text a new window starts with.
inline boxes::BoxTexts boxesFromLines(const std::vector<std::string_view>& parts,
                                      std::size_t first) {
    boxes::BoxTexts boxes;
    for (std::size_t i = 0; i < boxes::kBoxTable.size() && first + i < parts.size(); ++i)
        boxes.*boxes::kBoxTable[i].member = std::string(parts[first + i]);
    return boxes;
}

} // namespace spirell::fuzz

#define FUZZ_CHECK(condition, detail)                                                              \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::spirell::fuzz::fail(#condition, (detail), __FILE__, __LINE__);                       \
    } while (false)
