#pragma once

#include "boxes/BoxTexts.hpp"
#include "boxes/RuntimeError.hpp"
#include "drawing/DrawingFrame.hpp"
#include "drawing/DrawingSurface.hpp"
#include "drawing/HaltFlag.hpp"
#include "drawing/ViewParams.hpp"
#include "formulas/Catalogue.hpp"

#include <functional>
#include <map>
#include <utility>
#include <vector>

namespace spirell::testing {

// A drawing surface that remembers every pixel in the order it was set and
// lets a test act at each yield, as a click during a drawing would.
class RecordingSurface : public drawing::DrawingSurface {
public:
    struct Pixel {
        int x, y;
        formulas::Colour colour;
        bool operator==(const Pixel&) const = default;
    };

    void setPixel(int x, int y, formulas::Colour colour) override {
        pixels.push_back({x, y, colour});
        latest[{x, y}] = colour;
    }
    void yieldToEvents() override {
        ++yields;
        if (onYield)
            onYield(yields);
    }
    void clear() override {
        pixels.clear();
        latest.clear();
        ++clears;
    }

    // The colour last set at a window position; throws if none was set.
    formulas::Colour at(int x, int y) const { return latest.at({x, y}); }
    bool has(int x, int y) const { return latest.count({x, y}) != 0; }

    std::vector<Pixel> pixels;
    std::map<std::pair<int, int>, formulas::Colour> latest;
    int yields = 0;
    int clears = 0;
    std::function<void(int yieldNumber)> onYield;
};

// Draws a formula from box texts through the real frame, as a button click
// does, by default computed as the environment says.
inline RecordingSurface
drawFromBoxes(const formulas::Formula& formula, const boxes::BoxTexts& boxes,
              const drawing::Computing& computing = drawing::computingFromEnvironment()) {
    RecordingSurface surface;
    drawing::HaltFlag halt;
    drawing::drawFormula(formula, drawing::readView(formula, boxes), surface, halt, computing);
    return surface;
}

inline const formulas::Formula& formulaNamed(const char* routine) {
    return *formulas::findFormula(routine);
}

} // namespace spirell::testing
