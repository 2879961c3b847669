#include "view/NumberText.hpp"

#include "view/RuntimeError.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <locale.h>

namespace spirell {

double checkedResult(double value) {
    if (!std::isfinite(value))
        throw overflowError();
    return value;
}

namespace {

bool isSkipped(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int digitValue(char c, int base) {
    int value = -1;
    if (isDigit(c))
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value < base ? value : -1;
}

double readRadixInteger(const std::string& text, std::size_t pos, int base) {
    double value = 0;
    for (; pos < text.size(); ++pos) {
        const int digit = digitValue(text[pos], base);
        if (digit < 0)
            break;
        value = value * base + digit;
    }
    return checkedResult(value);
}

// Decimal conversion must not follow the user's regional settings: the full
// stop is always the decimal point. Beyond the double range gives infinity.
double readDecimal(const std::string& number) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    return strtod_l(number.c_str(), nullptr, cLocale);
}

double parseDecimalInCLocale(const std::string& number) {
    const double value = readDecimal(number);
    if (std::isinf(value))
        throw overflowError();
    return value;
}

// The largest value whose 15-digit text still reads back as a double.
constexpr double kLargestFifteenDigits = 1.79769313486231e308;

} // namespace

double Val(std::string_view text) {
    std::string compact;
    compact.reserve(text.size());
    for (char c : text)
        if (!isSkipped(c))
            compact.push_back(c);

    if (compact.size() >= 2 && compact[0] == '&') {
        const char kind = compact[1];
        if (kind == 'H' || kind == 'h')
            return readRadixInteger(compact, 2, 16);
        if (kind == 'O' || kind == 'o')
            return readRadixInteger(compact, 2, 8);
        return 0;
    }

    // Collect the longest leading part that forms a number.
    std::string number;
    std::size_t pos = 0;
    if (pos < compact.size() && (compact[pos] == '+' || compact[pos] == '-'))
        number.push_back(compact[pos++]);
    bool hasDigits = false;
    while (pos < compact.size() && isDigit(compact[pos])) {
        number.push_back(compact[pos++]);
        hasDigits = true;
    }
    if (pos < compact.size() && compact[pos] == '.') {
        number.push_back(compact[pos++]);
        while (pos < compact.size() && isDigit(compact[pos])) {
            number.push_back(compact[pos++]);
            hasDigits = true;
        }
    }
    if (!hasDigits)
        return 0;
    if (pos < compact.size() && (compact[pos] == 'E' || compact[pos] == 'e' ||
                                 compact[pos] == 'D' || compact[pos] == 'd')) {
        std::size_t exponentEnd = pos + 1;
        if (exponentEnd < compact.size() &&
            (compact[exponentEnd] == '+' || compact[exponentEnd] == '-'))
            ++exponentEnd;
        const std::size_t firstExponentDigit = exponentEnd;
        while (exponentEnd < compact.size() && isDigit(compact[exponentEnd]))
            ++exponentEnd;
        if (exponentEnd > firstExponentDigit) {
            number.push_back('e');
            number.append(compact, pos + 1, exponentEnd - pos - 1);
        }
    }
    return parseDecimalInCLocale(number);
}

std::string writeNumber(double value) {
    if (value == 0)
        return "0"; // also for a negative zero
    // to_chars writes as printf would in the C locale, whatever the user's
    // regional settings: the decimal point is always the full stop.
    char buffer[40];
    const auto written = [&](double v) {
        const auto result =
            std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 15);
        std::string text(buffer, result.ptr);
        for (char& c : text)
            if (c == 'e')
                c = 'E';
        return text;
    };
    std::string text = written(value);
    // The largest doubles round up to 15 digits beyond the double range, and
    // such text could not be read back: write the largest 15-digit value below.
    if (!std::isfinite(readDecimal(text)))
        text = written(std::copysign(kLargestFifteenDigits, value));
    return text;
}

double throughText(double value) {
    return Val(writeNumber(value));
}

} // namespace spirell
