// Number reading and writing on arbitrary input. The whole input is read as a
// box text, and its first eight bytes are taken as a double. Val must read any
// text or fail with Overflow alone; every finite double must be written as text
// that reads back to a finite number, uses a full stop, writes as the same text
// again, and gives the value exactly when 15 significant digits hold it.
#include "FuzzSupport.hpp"

#include "boxes/NumberText.hpp"
#include "boxes/RuntimeError.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

using namespace spirell;
using namespace spirell::boxes;
using namespace spirell::fuzz;

namespace {

// The number a box text holds, or nothing for Overflow; any other failure is a fault.
std::optional<double> readOrOverflow(std::string_view text) {
    try {
        const double value = readNumber(text);
        FUZZ_CHECK(std::isfinite(value), "readNumber(" + quoted(text) + ") = " + exact(value));
        return value;
    } catch (const RuntimeError& error) {
        FUZZ_CHECK(error.number() == kOverflowErrorNumber,
                   "readNumber(" + quoted(text) + ") failed with error " +
                       std::to_string(error.number()) + " " + std::string(error.what()));
        return std::nullopt;
    } catch (const std::exception& error) {
        fail("Val threw only RuntimeError",
             "readNumber(" + quoted(text) + ") threw " + error.what(), __FILE__, __LINE__);
    }
}

// Whether 15 significant digits hold the value: its 15-digit decimal form,
// written and read by the locale-free standard conversions, gives it back.
bool fitsFifteenDigits(double value) {
    char buffer[40];
    const auto written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    double back = 0;
    const auto read = std::from_chars(buffer, written.ptr, back);
    return read.ec == std::errc{} && back == value;
}

// The form the boxes show: an optional minus, digits with at most one full
// stop that never comes first, and an optional exponent E+nn or E-nn.
bool isBoxNumberForm(const std::string& text) {
    std::size_t pos = text[0] == '-' ? 1 : 0;
    const std::size_t mantissaStart = pos;
    int significant = 0;
    bool point = false;
    bool leadingZeros = true;
    for (; pos < text.size() && text[pos] != 'E'; ++pos) {
        if (text[pos] == '.') {
            if (point || pos == mantissaStart)
                return false;
            point = true;
        } else if (text[pos] >= '0' && text[pos] <= '9') {
            leadingZeros = leadingZeros && text[pos] == '0';
            significant += leadingZeros ? 0 : 1;
        } else {
            return false;
        }
    }
    if (pos == mantissaStart || text[pos - 1] == '.' || significant > 15)
        return false;
    if (pos == text.size())
        return true;
    ++pos;
    if (pos == text.size() || (text[pos] != '+' && text[pos] != '-'))
        return false;
    ++pos;
    if (pos == text.size())
        return false;
    for (; pos < text.size(); ++pos)
        if (text[pos] < '0' || text[pos] > '9')
            return false;
    return true;
}

void checkWritten(double value) {
    const std::string text = writeNumber(value);
    const std::string about = "writeNumber(" + exact(value) + ") = " + quoted(text);
    FUZZ_CHECK(!text.empty(), about);
    FUZZ_CHECK(text.find(',') == std::string::npos, about);
    FUZZ_CHECK(isBoxNumberForm(text), about);
    FUZZ_CHECK((text[0] == '-') == (value < 0 && text != "0"), about);

    const std::optional<double> back = readOrOverflow(text);
    FUZZ_CHECK(back.has_value(), about + " reads back as Overflow");
    FUZZ_CHECK(writeNumber(*back) == text, about + " reads back as " + exact(*back) + ", written " +
                                               quoted(writeNumber(*back)));
    FUZZ_CHECK(throughText(value) == *back, about);
    if (fitsFifteenDigits(value))
        FUZZ_CHECK(*back == value, about + " reads back as " + exact(*back));
    else
        FUZZ_CHECK(std::abs(*back - value) <= 1e-14 * std::abs(value),
                   about + " reads back as " + exact(*back));

    // Blanks may stand anywhere in a box text.
    std::string spaced;
    for (const char c : text) {
        spaced += ' ';
        spaced += c;
    }
    const std::optional<double> spacedBack = readOrOverflow(spaced + '\t');
    FUZZ_CHECK(spacedBack == back, about + ": with blanks reads " + quoted(spaced));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    useEnvironmentLocale();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const std::optional<double> value = readOrOverflow(text))
        checkWritten(*value);

    if (size >= sizeof(double)) {
        double value;
        std::memcpy(&value, data, sizeof value);
        if (std::isfinite(value))
            checkWritten(value);
    }
    return 0;
}
