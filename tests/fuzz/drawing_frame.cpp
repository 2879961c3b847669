// The drawing frame under every formula, from any box texts. The first line of
// the input names the formula as the renderer accepts it (caption, routine or
// index; otherwise its first byte picks one); the next five lines are the box
// texts. The view is read as a click reads it, and the first columns of the
// drawing go to a surface that checks every pixel as it comes: column by column
// from the image's top left corner, row by row within a column, one yield after
// each column, all inside the rectangle the view's loops allow, and nothing
// after a halt.
#include "FuzzSupport.hpp"

#include "boxes/RuntimeError.hpp"
#include "drawing/Colours.hpp"
#include "drawing/DrawingFrame.hpp"
#include "drawing/ViewParams.hpp"
#include "formulas/Catalogue.hpp"

#include <cmath>
#include <optional>

using namespace spirell;
using namespace spirell::boxes;
using namespace spirell::formulas;
using namespace spirell::drawing;
using namespace spirell::fuzz;

namespace {

// A drawing is halted after this many columns, and skipped when one column
// would be taller than this: enough for the frame's loops, quick for a fuzzer.
constexpr int kColumnsDrawn = 6;
constexpr std::int64_t kMaxRows = 300;

// A whole number small enough that adding 1 to it is exact, so the loops'
// counters are plain integers.
bool isSmallWhole(double value) {
    return std::abs(value) < 0x1p40 && value == std::floor(value);
}

class CheckingSurface : public DrawingSurface {
public:
    CheckingSurface(const Formula& formula, const ViewParams& view, HaltFlag& halt,
                    std::string about)
        : formula_(formula), view_(view), halt_(halt), about_(std::move(about)),
          columnLimit_(columnRange(view).stepLimit()), rowLimit_(rowRange(view).stepLimit()) {}

    void setPixel(int x, int y, Colour colour) override {
        const auto at = [&] {
            return about_ + ": pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                   ") after " + where();
        };
        FUZZ_CHECK(!halt_.isRequested(), at());
        FUZZ_CHECK(x == columns_, at());
        FUZZ_CHECK(y == rowsInColumn_, at());
        FUZZ_CHECK(columns_ < columnLimit_ && rowsInColumn_ < rowLimit_, at());
        // Where the counters are exact, column c and row r are world X = originX + c
        // and Y = originY + r.
        if (isSmallWhole(view_.originX) && isSmallWhole(view_.originY)) {
            const double X = view_.originX + (columns_ + 1);
            const double Y = view_.originY + (rowsInColumn_ + 1);
            FUZZ_CHECK(colourValue(colour) == colourValue(pixelColour(formula_, view_, X, Y)),
                       at());
        }
        ++rowsInColumn_;
    }

    void yieldToEvents() override {
        const auto at = [&] { return about_ + ": yield after " + where(); };
        FUZZ_CHECK(!halt_.isRequested(), at());
        // Every column is as tall as the first.
        if (!rowsPerColumn_)
            rowsPerColumn_ = rowsInColumn_;
        FUZZ_CHECK(rowsInColumn_ == *rowsPerColumn_, at());
        if (isSmallWhole(view_.imageHeight) && isSmallWhole(view_.originY))
            FUZZ_CHECK(rowsInColumn_ == std::max<std::int64_t>(view_.imageHeight, 0), at());
        ++columns_;
        rowsInColumn_ = 0;
        if (columns_ == kColumnsDrawn)
            halt_.request();
    }

    void clear() override { fail("drawFormula never clears", about_, __FILE__, __LINE__); }

    // After drawFormula has returned.
    void checkEnd() const {
        const auto at = [&] { return about_ + ": drawing ended after " + where(); };
        FUZZ_CHECK(rowsInColumn_ == 0, at());
        if (!halt_.isRequested() && isSmallWhole(view_.imageWidth) && isSmallWhole(view_.originX))
            FUZZ_CHECK(columns_ == std::max<std::int64_t>(view_.imageWidth, 0), at());
    }

private:
    std::string where() const {
        return std::to_string(columns_) + " columns and " + std::to_string(rowsInColumn_) + " rows";
    }

    const Formula& formula_;
    const ViewParams& view_;
    HaltFlag& halt_;
    std::string about_;
    std::int64_t columnLimit_;
    std::int64_t rowLimit_;
    std::int64_t columns_ = 0;
    std::int64_t rowsInColumn_ = 0;
    std::optional<std::int64_t> rowsPerColumn_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    useEnvironmentLocale();
    const std::vector<std::string_view> parts = lines(data, size);
    const Formula* formula = findFormula(parts[0]);
    if (!formula)
        formula = &formulaCatalogue()[parts[0].empty() ? 0
                                                       : static_cast<unsigned char>(parts[0][0]) %
                                                             kFormulaCount];
    const BoxTexts boxes = boxesFromLines(parts, 1);
    const std::string about = std::string(formula->routine) + " on " + describe(boxes);

    ViewParams view;
    try {
        view = readView(*formula, boxes);
    } catch (const RuntimeError& error) {
        FUZZ_CHECK(error.number() == kOverflowErrorNumber,
                   about + ": " + std::string(error.what()));
        return 0;
    }
    // A view that could start a drawing is finite throughout.
    for (const double value : {view.imageSize, view.imageWidth, view.imageHeight, view.originX,
                               view.originY, view.zoom, view.brightness})
        FUZZ_CHECK(std::isfinite(value), about + ": view value " + exact(value));

    if (rowRange(view).stepLimit() > kMaxRows)
        return 0;
    HaltFlag halt;
    CheckingSurface surface(*formula, view, halt, about);
    drawFormula(*formula, view, surface, halt, computingFromEnvironment());
    surface.checkEnd();
    return 0;
}
