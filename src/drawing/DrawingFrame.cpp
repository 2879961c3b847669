#include "drawing/DrawingFrame.hpp"

#include "drawing/ColumnPipeline.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace spirell::drawing {

namespace {

// More steps than any surface or image can hold; keeps the count an integer.
constexpr double kMaxSteps = 1u << 30;

// Below this many pixels a drawing is over before threads would have started.
constexpr std::int64_t kPixelsWorthThreads = 16384;

} // namespace

std::int64_t LoopRange::stepLimit() const {
    const double span = last - first;
    if (!(span >= 0))
        return 0; // also for a span that is not a number
    // Rounding up keeps the last step when the span comes out a hair short of a
    // whole number; the bound check of the loop itself still has the last word.
    return static_cast<std::int64_t>(std::fmin(std::ceil(span), kMaxSteps)) + 1;
}

std::int64_t LoopRange::count(std::int64_t limit) const {
    if (limit <= 0)
        return 0;
    std::int64_t values = 0;
    forEach([&](std::int64_t, double) { return ++values < limit; });
    return std::min(values, limit);
}

LoopRange columnRange(const ViewParams& view) {
    return {view.originX + 1, view.originX + view.imageWidth};
}

LoopRange rowRange(const ViewParams& view) {
    return {view.originY + 1, view.originY + view.imageHeight};
}

ViewGrid viewGrid(const ViewParams& view, DrawingSurface::Size shown) {
    ViewGrid grid;
    rowRange(view).forEach([&](std::int64_t row, double Y) {
        if (row > shown.height)
            return false;
        grid.rowY.push_back(Y);
        return true;
    });
    if (grid.rowY.empty())
        return grid;
    columnRange(view).forEach([&](std::int64_t column, double X) {
        if (column > shown.width)
            return false;
        grid.columnX.push_back(X);
        return true;
    });
    return grid;
}

lanes::LevelRule levelRule(const formulas::Formula& formula, const ViewParams& view) {
    lanes::LevelRule rule;
    rule.zoom = view.zoom;
    rule.program = formula.program;
    rule.brightness = view.brightness;
    rule.levelScale = formula.levelScale;
    for (int channel = 0; channel < 3; ++channel)
        rule.offsets[channel] = formula.levelOffsets[channel];
    return rule;
}

formulas::Colour pixelColour(const formulas::Formula& formula, const ViewParams& view, double X,
                             double Y) {
    lanes::PixelBatch pixel;
    pixel.X = &X;
    pixel.Y = &Y;
    pixel.count = 1;
    formulas::Colour colour;
    lanes::colourBatchFor(lanes::kernelsFor(lanes::InstructionSet::Scalar),
                          formula)(levelRule(formula, view), pixel, &colour);
    return colour;
}

void drawFormula(const formulas::Formula& formula, const ViewParams& view, DrawingSurface& surface,
                 const HaltFlag& halt, const Computing& computing) {
    // Only the rows and columns that land on the surface are computed; the
    // loops still run their full course, yielding after every column.
    // The columns are computed one by one as the loop reaches them, so only
    // the rows are listed: a list of the columns would take memory for every
    // column the surface might show.
    const DrawingSurface::Size shown = surface.shownSize();
    ViewGrid grid = viewGrid(view, {0, shown.height});
    const int rows = grid.height();
    const std::int64_t computedColumns =
        rows == 0 ? 0 : std::min<std::int64_t>(shown.width, columnRange(view).stepLimit());
    const unsigned threads = computedColumns * rows < kPixelsWorthThreads
                                 ? 1
                                 : threadsFor(computing.threads, std::uint64_t(computedColumns));
    ColumnPipeline columns(lanes::colourBatchFor(computing.kernels(), formula),
                           levelRule(formula, view), columnRange(view), computedColumns,
                           std::move(grid.rowY), threads);

    LoopCursor loop(columnRange(view));
    std::int64_t column = 0;
    double X = 0;
    while (loop.next(column, X)) {
        if (column <= computedColumns) {
            const formulas::Colour* colours = columns.column(column);
            const int x = static_cast<int>(column - 1);
            for (int y = 0; y < rows; ++y)
                surface.setPixel(x, y, colours[y]);
        }
        surface.yieldToEvents();
        if (halt.isRequested())
            return;
    }
}

} // namespace spirell::drawing
