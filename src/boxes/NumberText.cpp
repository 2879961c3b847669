#include "boxes/NumberText.hpp"

#include "boxes/RuntimeError.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace spirell::boxes {

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

// How many places from the units the leading digit of a decimal number lies:
// 0 for 1 to 9.99, 2 for 100, -1 for 0.5. Only its sign matters, so the
// exponent is read with saturation.
long long leadingPlace(std::string_view number) {
    long long place = 0;
    bool seenPoint = false, seenDigit = false;
    std::size_t pos = 0;
    for (; pos < number.size() && number[pos] != 'e' && number[pos] != 'E'; ++pos) {
        const char c = number[pos];
        if (c == '.') {
            seenPoint = true;
        } else if (isDigit(c)) {
            if (!seenDigit && c != '0') {
                seenDigit = true;
                place = 0;
            }
            if (seenDigit && !seenPoint)
                ++place;
            else if (!seenDigit && seenPoint)
                --place;
        }
    }
    long long exponent = 0;
    bool negative = false;
    for (++pos; pos < number.size(); ++pos) {
        if (number[pos] == '-')
            negative = true;
        else if (isDigit(number[pos]) && exponent < 1000000)
            exponent = exponent * 10 + (number[pos] - '0');
    }
    return place - 1 + (negative ? -exponent : exponent);
}

// Reads a number as Val collects it: an optional sign, digits with an optional
// full stop, an optional exponent after "e" or "E". from_chars never follows the
// user's regional settings. A magnitude beyond the double range gives
// infinity; one below the smallest double gives 0.
double readDecimal(std::string_view number) {
    bool negative = false;
    if (!number.empty() && (number[0] == '+' || number[0] == '-')) {
        negative = number[0] == '-';
        number.remove_prefix(1);
    }
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    (void)end;
    if (error == std::errc::result_out_of_range)
        value = leadingPlace(number) > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -value : value;
}

double parseDecimal(const std::string& number) {
    const double value = readDecimal(number);
    if (std::isinf(value))
        throw overflowError();
    return value;
}

// The largest value whose 15-digit text still reads back as a double.
constexpr double kLargestFifteenDigits = 1.79769313486231e308;

} // namespace

double readNumber(std::string_view text) {
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
    return parseDecimal(number);
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
    return readNumber(writeNumber(value));
}

} // namespace spirell::boxes
