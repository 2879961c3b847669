#pragma once

#include "boxes/BoxTexts.hpp"
#include "boxes/RuntimeError.hpp"
#include "formulas/Catalogue.hpp"
#include "render/DrawingFrame.hpp"
#include "render/DrawingSurface.hpp"
#include "render/HaltFlag.hpp"
#include "render/ViewParams.hpp"

#include <functional>
#include <map>
#include <utility>
#include <vector>

namespace spirell::testing {

// A drawing surface that remembers every pixel in the order it was set and
// lets a test act at each yield, as a click during a drawing would.
class RecordingSurface : public DrawingSurface {
public:
    struct Pixel {
        int x, y;
        Colour colour;
        bool operator==(const Pixel&) const = default;
    };

    void setPixel(int x, int y, Colour colour) override {
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
    Colour at(int x, int y) const { return latest.at({x, y}); }
    bool has(int x, int y) const { return latest.count({x, y}) != 0; }

    std::vector<Pixel> pixels;
    std::map<std::pair<int, int>, Colour> latest;
    int yields = 0;
    int clears = 0;
    std::function<void(int yieldNumber)> onYield;
};

// Draws a formula from box texts through the real frame, as a button click does.
inline RecordingSurface drawFromBoxes(const Formula& formula, const BoxTexts& boxes,
                                      const Computing& computing = defaultComputing()) {
    RecordingSurface surface;
    HaltFlag halt;
    drawFormula(formula, readView(formula, boxes), surface, halt, computing);
    return surface;
}

inline const Formula& formulaNamed(const char* routine) {
    return *findFormula(routine);
}

} // namespace spirell::testing
