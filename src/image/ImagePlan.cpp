#include "image/ImagePlan.hpp"

#include "base/Errors.hpp"
#include "base/SystemMemory.hpp"
#include "base/UserText.hpp"
#include "boxes/BoxTable.hpp"
#include "boxes/NumberText.hpp"
#include "boxes/RuntimeError.hpp"
#include "formulas/Catalogue.hpp"
#include "formulas/FormulaText.hpp"
#include "image/BandRenderer.hpp"
#include "lanes/LineColours.hpp"

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

// The axis that an image of so many pixels takes from a loop of count plain
// values at a scale, centred on the centre of the loop's picture.
PixelAxis axisOf(double first, std::uint64_t count, std::uint64_t pixels, int scale) {
    // Both below 2^53, so the difference is exact; division truncates toward
    // zero, which leaves the odd pixel on the right (below) both ways.
    const auto pictureWidth = static_cast<std::int64_t>(count * static_cast<std::uint64_t>(scale));
    const std::int64_t offset = (pictureWidth - static_cast<std::int64_t>(pixels)) / 2;
    PixelAxis axis;
    axis.first = first;
    axis.scale = scale;
    axis.pixels = pixels;
    // The plain step holding pixel offset, rounded toward minus infinity.
    axis.firstStep = offset >= 0 ? offset / scale : -((-offset + scale - 1) / scale);
    axis.firstSubPixel = static_cast<int>(offset - axis.firstStep * scale);
    return axis;
}

} // namespace

ImagePlan planImage(const ImageSettings& settings, const drawing::Computing& computing,
                    const ExtraPixels& extra) {
    ImagePlan plan;
    try {
        plan.formula = formulaOf(settings);
    } catch (const formulas::FormulaError& error) {
        throw base::InputError(std::string("the formula text: ") + error.what());
    }
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
    const drawing::LoopRange rows = drawing::rowRange(plan.view);
    if (columns.stepLimit() == 0 || rows.stepLimit() == 0)
        throw base::InputError("nothing to draw: --size " + base::quoted(settings.boxes.size) +
                               " is below 1");

    std::uint64_t columnCount = 0;
    std::uint64_t rowCount = 0;
    FrameSize frame;
    if (settings.frame) {
        // The picture may be larger than any image: only the frame is made.
        frame = *settings.frame;
        if (!fitsTheLimits(frame.width, frame.height, 1))
            throw base::InputError("--frame " + frameSizeText(frame) +
                                   " would make an image of more than " +
                                   std::to_string(base::kMaxPixels) + " pixels");
        columnCount = countSteps(columns, static_cast<std::uint64_t>(columns.stepLimit()));
        rowCount = countSteps(rows, static_cast<std::uint64_t>(rows.stepLimit()));
    } else {
        const auto tooBig = [&] {
            return base::InputError("--size " + base::quoted(settings.boxes.size) + " at scale " +
                                    std::to_string(plan.scale) +
                                    " would make an image of more than " +
                                    std::to_string(base::kMaxPixels) + " pixels");
        };
        // Counting takes a step per value, so neither loop is counted further
        // than the limit allows: first both up to the side of the largest
        // square, then the longer one up to what the shorter one leaves.
        const std::uint64_t area = base::kMaxPixels / (std::uint64_t(plan.scale) * plan.scale);
        const auto side = static_cast<std::uint64_t>(std::sqrt(static_cast<double>(area)));
        columnCount = countSteps(columns, side);
        rowCount = countSteps(rows, side);
        if (columnCount > side && rowCount > side)
            throw tooBig();
        if (columnCount <= side)
            rowCount = countSteps(rows, area / columnCount);
        else
            columnCount = countSteps(columns, area / rowCount);
        if (!fitsTheLimits(columnCount, rowCount, plan.scale))
            throw tooBig();
        frame = {static_cast<std::uint32_t>(columnCount * plan.scale),
                 static_cast<std::uint32_t>(rowCount * plan.scale)};
    }
    if (extra.columns > 0 || extra.rows > 0) {
        if (!fitsTheLimits(std::uint64_t{frame.width} + extra.columns,
                           std::uint64_t{frame.height} + extra.rows, 1))
            throw base::InputError("an image of " + frameSizeText(frame) +
                                   " and the pixels added to it would have more than " +
                                   std::to_string(base::kMaxPixels) + " pixels");
    }
    plan.columns = axisOf(columns.first, columnCount, frame.width, plan.scale);
    plan.columns.pixels += extra.columns;
    plan.rows = axisOf(rows.first, rowCount, frame.height, plan.scale);
    plan.rows.pixels += extra.rows;
    plan.threads = drawing::threadsFor(computing.threads, plan.height());

    // Checked before the columns take their share: an image too wide for the
    // memory would otherwise end in the kernel's out-of-memory kill.
    const PixelAxis plainColumns = plan.columns.plain();
    const std::uint64_t needed =
        renderPngMemory(plainColumns.pixels, plan.scale, plan.height(), plan.threads);
    const std::uint64_t available = base::availableMemory();
    if (needed > available)
        throw base::RenderFailure(
            "not enough memory for an image of " + std::to_string(plan.width()) + " x " +
            std::to_string(plan.height()) + " pixels: it needs about " + base::bytesText(needed) +
            ", and " + base::bytesText(available) + " is available");

    plan.plainColumnX.reserve(plainColumns.pixels);
    plainColumns.forEach([&](double X) { plan.plainColumnX.push_back(X); });
    return plan;
}

PixelAxis PixelAxis::plain() const {
    PixelAxis plainAxis = *this;
    plainAxis.scale = 1;
    plainAxis.firstSubPixel = 0;
    const auto perPlain = static_cast<std::uint64_t>(scale);
    plainAxis.pixels =
        (static_cast<std::uint64_t>(firstSubPixel) + pixels + perPlain - 1) / perPlain;
    return plainAxis;
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
    lanes::LineColours row(lanes::colourBatchFor(*plan.kernels, *plan.formula),
                           drawing::levelRule(*plan.formula, plan.view), lanes::Line::Row, Y,
                           [rgb](std::size_t column, formulas::Colour colour) {
                               std::uint8_t* pixel = rgb + 3 * column;
                               pixel[0] = colour.red;
                               pixel[1] = colour.green;
                               pixel[2] = colour.blue;
                           });
    std::size_t plain = 0;
    int subPixel = plan.columns.firstSubPixel;
    for (std::uint32_t column = 0; column < plan.width(); ++column) {
        row.add(subPixelValue(plan.plainColumnX[plain], subPixel, plan.scale), column);
        if (++subPixel == plan.scale) {
            subPixel = 0;
            ++plain;
        }
    }
    row.flush();
}

} // namespace spirell::image
