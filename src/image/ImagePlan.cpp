#include "image/ImagePlan.hpp"

#include "base/Errors.hpp"
#include "base/SystemMemory.hpp"
#include "base/UserText.hpp"
#include "boxes/BoxTable.hpp"
#include "boxes/NumberText.hpp"
#include "boxes/RuntimeError.hpp"
#include "formulas/Catalogue.hpp"
#include "image/BandRenderer.hpp"

#include <cmath>

namespace spirell::image {

namespace {

std::string runtimeErrorText(const boxes::RuntimeError& error) {
    return "run-time error " + std::to_string(error.number()) + " (" + error.what() + ")";
}

// Checks each box on its own first, so that the message can name the one at fault.
void checkBoxes(const boxes::BoxTexts& boxes) {
    for (const boxes::BoxDescription& box : boxes::kBoxTable) {
        const std::string& text = boxes.*box.member;
        try {
            boxes::readNumber(text);
        } catch (const boxes::RuntimeError& error) {
            throw base::InputError(std::string(box.option) + " " + base::quoted(text) +
                                   " cannot be read: " + runtimeErrorText(error));
        }
    }
}

// The number of values a loop gives, counting no further than cap + 1.
std::uint64_t countSteps(const drawing::LoopRange& range, std::uint64_t cap) {
    return static_cast<std::uint64_t>(range.count(static_cast<std::int64_t>(cap) + 1));
}

} // namespace

ImagePlan planImage(const ImageSettings& settings, const drawing::Computing& computing) {
    ImagePlan plan;
    plan.formula = formulas::findFormula(settings.formula);
    if (!plan.formula)
        throw base::InputError("unknown formula " + base::quoted(settings.formula) +
                               ": give a caption, a routine name or an index from 0 to " +
                               std::to_string(formulas::kFormulaCount - 1));

    checkBoxes(settings.boxes);
    try {
        plan.view = drawing::readView(*plan.formula, settings.boxes);
    } catch (const boxes::RuntimeError& error) {
        throw base::InputError("the view cannot be read: " + runtimeErrorText(error));
    }
    plan.scale = settings.scale;
    plan.kernels = &computing.kernels();

    const drawing::LoopRange columns = drawing::columnRange(plan.view);
    plan.rows = drawing::rowRange(plan.view);
    if (columns.stepLimit() == 0 || plan.rows.stepLimit() == 0)
        throw base::InputError("nothing to draw: --size " + base::quoted(settings.boxes.size) +
                               " is below 1");

    const auto tooBig = [&] {
        return base::InputError("--size " + base::quoted(settings.boxes.size) + " at scale " +
                                std::to_string(plan.scale) + " would make an image of more than " +
                                std::to_string(base::kMaxPixels) + " pixels");
    };
    // Counting takes a step per value, so neither loop is counted further than
    // the limit allows: first both up to the side of the largest square, then
    // the longer one up to what the shorter one leaves.
    const std::uint64_t area = base::kMaxPixels / (std::uint64_t(plan.scale) * plan.scale);
    const auto side = static_cast<std::uint64_t>(std::sqrt(static_cast<double>(area)));
    std::uint64_t columnCount = countSteps(columns, side);
    plan.rowCount = countSteps(plan.rows, side);
    if (columnCount > side && plan.rowCount > side)
        throw tooBig();
    if (columnCount <= side)
        plan.rowCount = countSteps(plan.rows, area / columnCount);
    else
        columnCount = countSteps(columns, area / plan.rowCount);
    if (!fitsTheLimits(columnCount, plan.rowCount, plan.scale))
        throw tooBig();
    plan.threads = drawing::threadsFor(computing.threads, plan.height());

    // Checked before the columns take their share: an image too wide for the
    // memory would otherwise end in the kernel's out-of-memory kill.
    const std::uint64_t width = columnCount * static_cast<std::uint64_t>(plan.scale);
    const std::uint64_t needed =
        renderPngMemory(columnCount, plan.scale, plan.height(), plan.threads);
    const std::uint64_t available = base::availableMemory();
    if (needed > available)
        throw base::RenderFailure("not enough memory for an image of " + std::to_string(width) +
                                  " x " + std::to_string(plan.height()) +
                                  " pixels: it needs about " + base::bytesText(needed) + ", and " +
                                  base::bytesText(available) + " is available");

    plan.columns.reserve(columnCount);
    columns.forEach([&](std::int64_t, double X) {
        plan.columns.push_back(X);
        return true;
    });
    return plan;
}

bool fitsTheLimits(std::uint64_t columns, std::uint64_t rows, int scale) {
    // Each side within base::kMaxSide first: then neither product below can
    // overflow 64 bits.
    const auto perSide = base::kMaxSide / static_cast<std::uint64_t>(scale);
    if (columns > perSide || rows > perSide)
        return false;
    return (columns * scale) * (rows * scale) <= base::kMaxPixels;
}

double subPixelValue(double base, int s, int scale) {
    // Sub-pixel 0 is the loop's own value untouched, so scale 1 is the plain image.
    return s == 0 ? base : base + static_cast<double>(s) / scale;
}

void computeRow(const ImagePlan& plan, double Y, std::uint8_t* rgb) {
    // The row goes to the formula's batch function a piece at a time.
    constexpr std::size_t kPiece = 256;
    double X[kPiece];
    formulas::Colour colours[kPiece];
    const lanes::ColourBatch batch = plan.kernels->colours[plan.formula->index];
    const lanes::LevelRule rule = drawing::levelRule(*plan.formula, plan.view);
    lanes::PixelBatch pixels;
    pixels.X = X;
    pixels.xStride = 1;
    pixels.Y = &Y;
    const auto flush = [&] {
        batch(rule, pixels, colours);
        for (std::size_t i = 0; i < pixels.count; ++i) {
            *rgb++ = colours[i].red;
            *rgb++ = colours[i].green;
            *rgb++ = colours[i].blue;
        }
        pixels.count = 0;
    };
    for (const double plainX : plan.columns)
        for (int s = 0; s < plan.scale; ++s) {
            X[pixels.count++] = subPixelValue(plainX, s, plan.scale);
            if (pixels.count == kPiece)
                flush();
        }
    if (pixels.count > 0)
        flush();
}

} // namespace spirell::image
