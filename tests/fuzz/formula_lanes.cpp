// Formulas written as text give the same bits with every instruction set. The
// input's first 32 bytes are the view, four doubles as they lie in memory:
// zoom, the first pixel's X and Y, and the step between pixels; the next byte
// is the brightness box. If the byte after that is odd, the formula is the
// one randomFormulaText makes from a seed taken from the bytes after it;
// otherwise those bytes are themselves the choices of a random candidate, one
// byte a choice, so that the fuzzer steers its shape. The candidate must
// compile within the limits random texts keep; then the raw mixtures and
// colours of a grid, a row and a single pixel must match the scalar lanes'
// bit for bit, any NaN matching any other.
#include "ProgramChecks.hpp"

#include "drawing/DrawingFrame.hpp"
#include "drawing/RandomFormula.hpp"
#include "drawing/ViewParams.hpp"
#include "formulas/FormulaText.hpp"

#include <array>
#include <cstring>

using namespace spirell;
using namespace spirell::formulas;
using namespace spirell::drawing;
using namespace spirell::fuzz;

namespace {

class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    // The next byte, or 0 once all are read.
    std::uint8_t next() { return at_ < size_ ? data_[at_++] : 0; }

    double nextDouble() {
        std::uint8_t bytes[sizeof(double)];
        for (std::uint8_t& byte : bytes)
            byte = next();
        double value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }

    std::string_view rest() const {
        return {reinterpret_cast<const char*>(data_ + at_), size_ - std::min(at_, size_)};
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

std::uint64_t fnv1a(std::string_view bytes) {
    std::uint64_t hash = 1469598103934665603ull;
    for (const char c : bytes)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return hash;
}

constexpr std::size_t kGridColumns = 7;
constexpr std::size_t kGridRows = 5;
constexpr std::size_t kRowPixels = 19;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    useEnvironmentLocale();
    Bytes bytes(data, size);
    const double zoom = bytes.nextDouble();
    const double firstX = bytes.nextDouble();
    const double firstY = bytes.nextDouble();
    const double step = bytes.nextDouble();
    const double brightness = bytes.next();

    std::string text;
    if (bytes.next() % 2 == 1) {
        text = randomFormulaText(fnv1a(bytes.rest()));
    } else {
        const ChoiceNumbers numbers = [&bytes] { return std::uint64_t(bytes.next()) << 56; };
        text = randomFormulaCandidate(0, numbers);
    }
    std::string about = quoted(text);
    CompiledFormula formula;
    try {
        formula = compileFormula(text);
    } catch (const FormulaError& error) {
        fail("a random formula compiles", about + ": " + error.what(), __FILE__, __LINE__);
    }
    FUZZ_CHECK(text.size() <= kRandomFormulaMaxBytes, about);
    FUZZ_CHECK(formula.program.instructions.size() <= kRandomFormulaMaxOperations, about);
    checkProgramShape(formula.program, about);

    ViewParams view;
    view.zoom = zoom;
    view.brightness = brightness;
    lanes::LevelRule rule = levelRule(formula.settings, view);
    rule.program = &formula.program;

    // A grid with both coordinates listed, a row sharing one Y, one pixel.
    std::array<double, kGridColumns * kGridRows> gridX, gridY;
    for (std::size_t i = 0; i < gridX.size(); ++i) {
        gridX[i] = firstX + step * double(i % kGridColumns);
        gridY[i] = firstY - step * double(i / kGridColumns);
    }
    std::array<double, kRowPixels> rowX;
    for (std::size_t i = 0; i < rowX.size(); ++i)
        rowX[i] = firstX + step * double(i);
    checkEverySetAgrees(formula.program, rule, {gridX.data(), 1, gridY.data(), 1, gridX.size()},
                        about + ", a grid");
    checkEverySetAgrees(formula.program, rule, {rowX.data(), 1, &firstY, 0, rowX.size()},
                        about + ", a row");
    checkEverySetAgrees(formula.program, rule, {&firstX, 0, &firstY, 0, 1}, about + ", a pixel");
    return 0;
}
