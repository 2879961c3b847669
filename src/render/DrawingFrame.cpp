#include "render/DrawingFrame.hpp"

#include <cmath>

namespace spirell {

namespace {

// More steps than any surface or image can hold; keeps the count an integer.
constexpr double kMaxSteps = 1u << 30;

} // namespace

std::int64_t LoopRange::stepLimit() const {
    const double span = last - first;
    if (!(span >= 0))
        return 0; // also for a span that is not a number
    // Rounding up keeps the last step when the span comes out a hair short of a
    // whole number; the bound check of the loop itself still has the last word.
    return static_cast<std::int64_t>(std::fmin(std::ceil(span), kMaxSteps)) + 1;
}

LoopRange columnRange(const ViewParams& view) {
    return {view.OriginX + 1, view.OriginX + view.ImageWidth};
}

LoopRange rowRange(const ViewParams& view) {
    return {view.OriginY + 1, view.OriginY + view.ImageHeight};
}

Colour colourFromLevels(const Levels& levels) {
    const auto channel = [](double level) -> std::uint8_t {
        if (std::isnan(level))
            return 0;
        if (level < 0)
            level = 0;
        if (level > 255)
            level = 255;
        // The default rounding mode rounds half to even: 254.5 gives 254.
        return static_cast<std::uint8_t>(std::nearbyint(level));
    };
    return {channel(levels.red), channel(levels.green), channel(levels.blue)};
}

Colour pixelColour(const Formula& formula, const ViewParams& view, double X, double Y) {
    const ChannelTerms terms = formula.pixel(PixelPoint{X, Y, view.zoom});
    const auto level = [&](double term, double offset) {
        return (term * view.brightness) * formula.levelScale + offset;
    };
    return colourFromLevels({level(terms.red, formula.levelOffsets[0]),
                             level(terms.green, formula.levelOffsets[1]),
                             level(terms.blue, formula.levelOffsets[2])});
}

void drawFormula(const Formula& formula, const ViewParams& view, DrawingSurface& surface,
                 const HaltFlag& halt) {
    columnRange(view).forEach([&](std::int64_t column, double X) {
        const int x = static_cast<int>(kImageLeft + column);
        rowRange(view).forEach([&](std::int64_t row, double Y) {
            surface.setPixel(x, static_cast<int>(kImageTop + row),
                             pixelColour(formula, view, X, Y));
            return true;
        });
        surface.yieldToEvents();
        return !halt.isRequested();
    });
}

} // namespace spirell
