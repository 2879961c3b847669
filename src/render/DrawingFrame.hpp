#pragma once

#include "render/DrawingSurface.hpp"
#include "render/Formula.hpp"
#include "render/HaltFlag.hpp"
#include "render/ViewParams.hpp"

#include <cstdint>

namespace spirell {

// Where the image's first column and row land on the window: column c is drawn
// at x = kImageLeft + c, row r at y = kImageTop + r, both counted from 1.
inline constexpr int kImageLeft = 160;
inline constexpr int kImageTop = 50;

// A loop from first to last in steps of 1, with its bounds fixed at the start.
// The counter is a double, so a fractional origin gives fractional coordinates.
// The number of steps is bounded by the span as well, so a counter too large to
// move by 1 still ends after as many steps as its bounds give.
struct LoopRange {
    double first = 0;
    double last = 0;

    std::int64_t stepLimit() const;

    // Calls step(number, value) for each value, numbered from 1, while it
    // returns true.
    template <typename Step> void forEach(Step&& step) const {
        const std::int64_t limit = stepLimit();
        double value = first;
        for (std::int64_t number = 1; number <= limit && value <= last; ++number, value += 1)
            if (!step(number, value))
                return;
    }
};

LoopRange columnRange(const ViewParams& view);
LoopRange rowRange(const ViewParams& view);

// The colour of one pixel at world coordinates (X, Y).
Colour pixelColour(const Formula& formula, const ViewParams& view, double X, double Y);

// Draws a formula column by column, yielding after each column and stopping
// after the column in which a halt was requested.
void drawFormula(const Formula& formula, const ViewParams& view, DrawingSurface& surface,
                 const HaltFlag& halt);

} // namespace spirell
