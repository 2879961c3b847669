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
// a timeout under a fuzzer. A frame has both loops counted to their end, and
// a list of its columns' world X. Such views are left out.
inline bool isQuickToPlan(const image::ImageSettings& settings) {
    const formulas::Formula* formula = formulas::findFormula(settings.formula);
    if (!formula)
        return true;
    if (settings.frame && settings.frame->width > (1u << 16))
        return false;
    try {
        const drawing::ViewParams view = drawing::readView(*formula, settings.boxes);
        const std::int64_t columns = drawing::columnRange(view).stepLimit();
        const std::int64_t rows = drawing::rowRange(view).stepLimit();
        if (settings.frame)
            return std::max(columns, rows) <= (1 << 20);
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

template <typename Step> void expectOnlyInputError(const std::string& about, Step&& step) {
    try {
        step();
    } catch (const base::InputError&) {
        throw;
    } catch (const std::exception& error) {
        fail("only InputError", about + " threw " + error.what(), __FILE__, __LINE__);
    }
}

// Every row's world Y, top to bottom.
inline std::vector<double> rowValues(const image::ImagePlan& plan) {
    std::vector<double> values;
    plan.rows.forEach([&](double Y) { values.push_back(Y); });
    return values;
}

// The pixel of the view's own picture that a plan's first pixel is along an axis.
inline std::int64_t pictureOffset(const image::PixelAxis& axis) {
    return axis.firstStep * axis.scale + axis.firstSubPixel;
}

inline void checkPlan(const image::ImagePlan& plan, const drawing::Computing& computing,
                      const std::string& about) {
    const std::uint64_t width = plan.width();
    const std::uint64_t height = plan.height();
    FUZZ_CHECK(plan.formula, about);
    FUZZ_CHECK(width >= 1 && height >= 1, about);
    FUZZ_CHECK(width <= base::kMaxSide && height <= base::kMaxSide &&
                   width * height <= base::kMaxPixels,
               about);
    const std::uint64_t covered = width + plan.columns.firstSubPixel;
    FUZZ_CHECK(plan.plainColumnX.size() * plan.scale >= covered &&
                   (plan.plainColumnX.size() - 1) * plan.scale < covered,
               about + ": the plain columns are not those the image touches");
    if (width * height > kComparedPixels * 64 || width > kComparedRowWidth)
        return;
    const std::vector<double> rows = rowValues(plan);
    FUZZ_CHECK(rows.size() == height, about + ": the rows give another height");

    const std::uint64_t plainColumns = static_cast<std::uint64_t>(
        drawing::columnRange(plan.view).count(static_cast<std::int64_t>(kComparedPixels) + 1));
    const std::uint64_t plainRows = static_cast<std::uint64_t>(
        drawing::rowRange(plan.view).count(static_cast<std::int64_t>(kComparedPixels) + 1));
    if (plainColumns * plainRows > kComparedPixels)
        return;
    ColourList window;
    drawing::HaltFlag halt;
    drawing::drawFormula(*plan.formula, plan.view, window, halt, computing);
    FUZZ_CHECK(window.colours.size() == plainColumns * plainRows, about);
    // Where the image (a frame, perhaps) shows a plain pixel of the view's
    // picture, it has the window's colour there.
    const std::int64_t left = pictureOffset(plan.columns), top = pictureOffset(plan.rows);
    std::vector<std::uint8_t> rgb(plan.rowBytes());
    for (std::uint64_t row = 0; row < plainRows; ++row) {
        const std::int64_t y = static_cast<std::int64_t>(row) * plan.scale - top;
        if (y < 0 || y >= static_cast<std::int64_t>(height))
            continue;
        image::computeRow(plan, rows[static_cast<std::size_t>(y)], rgb.data());
        for (std::uint64_t column = 0; column < plainColumns; ++column) {
            const std::int64_t x = static_cast<std::int64_t>(column) * plan.scale - left;
            if (x < 0 || x >= static_cast<std::int64_t>(width))
                continue;
            const std::uint8_t* pixel = &rgb[3 * static_cast<std::size_t>(x)];
            const formulas::Colour drawn = window.colours[column * plainRows + row];
            FUZZ_CHECK((drawing::colourValue(formulas::Colour{pixel[0], pixel[1], pixel[2]}) ==
                        drawing::colourValue(drawn)),
                       about + ": column " + std::to_string(column) + ", row " +
                           std::to_string(row));
        }
    }
}

} // namespace spirell::fuzz
