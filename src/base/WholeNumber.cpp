#include "base/WholeNumber.hpp"

#include <charconv>

namespace spirell::base {

std::optional<long long> readWholeNumber(std::string_view text, long long lowest,
                                         long long highest) {
    // from_chars takes a minus sign before the digits; a whole number here has none.
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc{} || stop != end || value < lowest || value > highest)
        return std::nullopt;
    return value;
}

} // namespace spirell::base
