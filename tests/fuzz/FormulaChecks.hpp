#pragma once

#include <algorithm>
#include <string_view>

// Checks of formula texts that the fuzz targets and the tests share.
namespace spirell::testing {

// How deeply parentheses outside comments nest.
inline int parenthesisNesting(std::string_view text) {
    int depth = 0, deepest = 0;
    bool comment = false;
    for (const char c : text) {
        if (c == '\n')
            comment = false;
        else if (c == '#')
            comment = true;
        else if (!comment && c == '(')
            deepest = std::max(deepest, ++depth);
        else if (!comment && c == ')')
            --depth;
    }
    return deepest;
}

} // namespace spirell::testing
