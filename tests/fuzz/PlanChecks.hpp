#pragma once

// What the targets that plan images check of every plan: render_plan's from
// a command line, png_text's from the settings a PNG file keeps.
#include "FuzzSupport.hpp"

#include "base/Errors.hpp"
#include "base/Limits.hpp"
#include "boxes/RuntimeError.hpp"
#include "drawing/Colours.hpp"
#include "drawing/Computing.hpp"
#include "drawing/DrawingFrame.hpp"
#include "drawing/ViewParams.hpp"
#include "formulas/Catalogue.hpp"
#include "image/ImagePlan.hpp"
#include "image/ImageSettings.hpp"

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

namespace spirell::fuzz {

// Images up to this many plain pixels, and rows up to this many pixels, are
// compared with the window's drawing.
inline constexpr std::uint64_t kComparedPixels = 2048;
inline constexpr std::uint64_t kComparedRowWidth = 8192;

// Planning counts the steps of both loops, up to what the pixel limit allows:
// for a long thin image that is up to 2^31 steps, a second of honest work but
// a timeout under a fuzzer. Such views are left out.
inline bool isQuickToPlan(const image::ImageSettings& settings) {
    const formulas::Formula* formula = formulas::findFormula(settings.formula);
    if (!formula)
        return true;
    try {
        const drawing::ViewParams view = drawing::readView(*formula, settings.boxes);
        const std::int64_t columns = drawing::columnRange(view).stepLimit();
        const std::int64_t rows = drawing::rowRange(view).stepLimit();
        return std::max(columns, rows) <= (1 << 20) || std::min(columns, rows) >= 2048;
    } catch (const boxes::RuntimeError&) {
        return true;
    }
}

// The window's drawing of a view, pixel by pixel in drawing order.
class ColourList : public drawing::DrawingSurface {
public:
    void setPixel(int, int, formulas::Colour colour) override { colours.push_back(colour); }
    void yieldToEvents() override {}
    void clear() override {}
    std::vector<formulas::Colour> colours;
};

// Runs step, which may fail with InputError alone; any other exception is a fault.
template <typename Step> void expectOnlyInputError(const std::string& about, Step&& step) {
    try {
        step();
    } catch (const base::InputError&) {
        throw;
    } catch (const std::exception& error) {
        fail("only InputError", about + " threw " + error.what(), __FILE__, __LINE__);
    }
}

// A plan must keep to the pixel limits, and for a small image its rows, at any
// scale, must hold at every plain pixel the colour the window's drawing frame
// gives it.
inline void checkPlan(const image::ImagePlan& plan, const drawing::Computing& computing,
                      const std::string& about) {
    const std::uint64_t width = plan.width();
    const std::uint64_t height = plan.height();
    FUZZ_CHECK(plan.formula, about);
    FUZZ_CHECK(width >= 1 && height >= 1, about);
    FUZZ_CHECK(width <= base::kMaxSide && height <= base::kMaxSide &&
                   width * height <= base::kMaxPixels,
               about);
    FUZZ_CHECK(width == plan.columns.size() * plan.scale, about);
    FUZZ_CHECK(height == plan.rowCount * plan.scale, about);
    std::uint64_t rows = 0;
    plan.rows.forEach([&](std::int64_t, double) { return ++rows <= plan.rowCount; });
    FUZZ_CHECK(rows == plan.rowCount, about + ": the row loop gives more rows");

    if (plan.columns.size() * plan.rowCount > kComparedPixels || width > kComparedRowWidth)
        return;
    ColourList window;
    drawing::HaltFlag halt;
    drawing::drawFormula(*plan.formula, plan.view, window, halt, computing);
    FUZZ_CHECK(window.colours.size() == plan.columns.size() * plan.rowCount, about);
    std::vector<std::uint8_t> rgb(plan.rowBytes());
    std::uint64_t row = 0;
    plan.rows.forEach([&](std::int64_t, double Y) {
        image::computeRow(plan, Y, rgb.data());
        for (std::size_t column = 0; column < plan.columns.size(); ++column) {
            const std::uint8_t* pixel = &rgb[3 * column * plan.scale];
            const formulas::Colour drawn = window.colours[column * plan.rowCount + row];
            FUZZ_CHECK((drawing::colourValue(formulas::Colour{pixel[0], pixel[1], pixel[2]}) ==
                        drawing::colourValue(drawn)),
                       about + ": column " + std::to_string(column) + ", row " +
                           std::to_string(row));
        }
        return ++row < plan.rowCount;
    });
}

} // namespace spirell::fuzz
