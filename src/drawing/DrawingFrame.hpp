#pragma once

#include "drawing/Computing.hpp"
#include "drawing/DrawingSurface.hpp"
#include "drawing/HaltFlag.hpp"
#include "drawing/ViewParams.hpp"
#include "formulas/Formula.hpp"
#include "lanes/Batch.hpp"

#include <cstdint>
#include <vector>

namespace spirell::drawing {

// A loop from first to last in steps of 1, with its bounds fixed at the start.
// The counter is a double, so a fractional origin gives fractional coordinates.
// The number of steps is bounded by the span as well, so a counter too large to
// move by 1 still ends after as many steps as its bounds give.
struct LoopRange {
    double first = 0;
    double last = 0;

    std::int64_t stepLimit() const;

    // The number of values the loop gives, counting no further than limit.
    std::int64_t count(std::int64_t limit) const;

    // Calls step(number, value) for each value, numbered from 1, while it
    // returns true.
    template <typename Step> void forEach(Step&& step) const;
};

// Walks a LoopRange one value at a time.
class LoopCursor {
public:
    explicit LoopCursor(const LoopRange& range)
        : last_(range.last), limit_(range.stepLimit()), value_(range.first) {}

    // The next value and its number (from 1); false once the loop has ended.
    bool next(std::int64_t& number, double& value) {
        if (number_ >= limit_)
            return false;
        if (number_ > 0)
            value_ += 1;
        if (!(value_ <= last_)) {
            limit_ = number_; // ended for good
            return false;
        }
        number = ++number_;
        value = value_;
        return true;
    }

private:
    double last_;
    std::int64_t limit_;
    double value_;
    std::int64_t number_ = 0;
};

template <typename Step> void LoopRange::forEach(Step&& step) const {
    LoopCursor cursor(*this);
    std::int64_t number = 0;
    double value = 0;
    while (cursor.next(number, value))
        if (!step(number, value))
            return;
}

LoopRange columnRange(const ViewParams& view);
LoopRange rowRange(const ViewParams& view);

// The world coordinates of the columns and rows of a view that a surface of
// the given size shows, exactly as the loops give them: the loop adds 1 a
// step, so a fractional origin accumulates rounding that no index times a
// step would reproduce. Without a row there is no column either.
struct ViewGrid {
    std::vector<double> columnX;
    std::vector<double> rowY;

    int width() const { return static_cast<int>(columnX.size()); }
    int height() const { return static_cast<int>(rowY.size()); }
};
ViewGrid viewGrid(const ViewParams& view, DrawingSurface::Size shown);

// How a formula's mixtures become levels in a given view.
lanes::LevelRule levelRule(const formulas::Formula& formula, const ViewParams& view);

// The colour of one pixel at world coordinates (X, Y).
formulas::Colour pixelColour(const formulas::Formula& formula, const ViewParams& view, double X,
                             double Y);

// Draws a formula column by column, yielding after each column and stopping
// after the column in which a halt was requested. Columns are computed ahead
// on the computing threads; they are set on the surface, and the events run,
// on the calling thread only. No computing thread outlives the drawing.
void drawFormula(const formulas::Formula& formula, const ViewParams& view, DrawingSurface& surface,
                 const HaltFlag& halt, const Computing& computing);

} // namespace spirell::drawing
