// spirell-render's command line and image plan. Each line of the input is one
// argument after the program name. The arguments are parsed and the settings
// planned as the renderer does (without --from, which reads a file, --animate,
// which reads keyframes, and --help and --version, which plan nothing); a bad
// request may fail only with InputError. A plan must keep to the pixel limits,
// and for a small image its rows, at any scale and in any frame, must hold at
// every plain pixel of the view's picture that they show the colour the
// window's drawing frame gives it.
#include "FuzzSupport.hpp"

#include "base/Errors.hpp"
#include "boxes/RuntimeError.hpp"
#include "cli/CommandLine.hpp"
#include "cli/ResolveSettings.hpp"
#include "drawing/Colours.hpp"
#include "drawing/DrawingFrame.hpp"
#include "drawing/ViewParams.hpp"
#include "formulas/Catalogue.hpp"
#include "image/ImagePlan.hpp"
#include "image/ImageSettings.hpp"

using namespace spirell;
using namespace spirell::base;
using namespace spirell::boxes;
using namespace spirell::formulas;
using namespace spirell::drawing;
using namespace spirell::cli;
using namespace spirell::fuzz;
using namespace spirell::image;

namespace {

// Images up to this many plain pixels, and rows up to this many pixels, are
// compared with the window's drawing.
constexpr std::uint64_t kComparedPixels = 2048;
constexpr std::uint64_t kComparedRowWidth = 8192;

// Planning counts the steps of both loops, up to what the pixel limit allows:
// for a long thin image that is up to 2^31 steps, a second of honest work but
// a timeout under a fuzzer. A frame has both loops counted to their end, and
// a list of its columns' world X. Such views are left out.
bool isQuickToPlan(const ImageSettings& settings) {
    const Formula* formula = findFormula(settings.formula);
    if (!formula)
        return true;
    if (settings.frame && settings.frame->width > (1u << 16))
        return false;
    try {
        const ViewParams view = readView(*formula, settings.boxes);
        const std::int64_t columns = columnRange(view).stepLimit();
        const std::int64_t rows = rowRange(view).stepLimit();
        if (settings.frame)
            return std::max(columns, rows) <= (1 << 20);
        return std::max(columns, rows) <= (1 << 20) || std::min(columns, rows) >= 2048;
    } catch (const RuntimeError&) {
        return true;
    }
}

// The window's drawing of a view, pixel by pixel in drawing order.
class ColourList : public DrawingSurface {
public:
    void setPixel(int, int, Colour colour) override { colours.push_back(colour); }
    void yieldToEvents() override {}
    void clear() override {}
    std::vector<Colour> colours;
};

template <typename Step> void expectOnlyInputError(const std::string& about, Step&& step) {
    try {
        step();
    } catch (const InputError&) {
        throw;
    } catch (const std::exception& error) {
        fail("only InputError", about + " threw " + error.what(), __FILE__, __LINE__);
    }
}

// Every row's world Y, top to bottom.
std::vector<double> rowValues(const ImagePlan& plan) {
    std::vector<double> values;
    plan.rows.forEach([&](double Y) { values.push_back(Y); });
    return values;
}

// The pixel of the view's own picture that a plan's first pixel is along an axis.
std::int64_t pictureOffset(const PixelAxis& axis) {
    return axis.firstStep * axis.scale + axis.firstSubPixel;
}

void checkPlan(const ImagePlan& plan, const Computing& computing, const std::string& about) {
    const std::uint64_t width = plan.width();
    const std::uint64_t height = plan.height();
    FUZZ_CHECK(plan.formula, about);
    FUZZ_CHECK(width >= 1 && height >= 1, about);
    FUZZ_CHECK(width <= kMaxSide && height <= kMaxSide && width * height <= kMaxPixels, about);
    const std::uint64_t covered = width + plan.columns.firstSubPixel;
    FUZZ_CHECK(plan.plainColumnX.size() * plan.scale >= covered &&
                   (plan.plainColumnX.size() - 1) * plan.scale < covered,
               about + ": the plain columns are not those the image touches");
    if (width * height > kComparedPixels * 64 || width > kComparedRowWidth)
        return;
    const std::vector<double> rows = rowValues(plan);
    FUZZ_CHECK(rows.size() == height, about + ": the rows give another height");

    const std::uint64_t plainColumns = static_cast<std::uint64_t>(
        columnRange(plan.view).count(static_cast<std::int64_t>(kComparedPixels) + 1));
    const std::uint64_t plainRows = static_cast<std::uint64_t>(
        rowRange(plan.view).count(static_cast<std::int64_t>(kComparedPixels) + 1));
    if (plainColumns * plainRows > kComparedPixels)
        return;
    ColourList window;
    HaltFlag halt;
    drawFormula(*plan.formula, plan.view, window, halt, computing);
    FUZZ_CHECK(window.colours.size() == plainColumns * plainRows, about);
    // Where the image (a frame, perhaps) shows a plain pixel of the view's
    // picture, it has the window's colour there.
    const std::int64_t left = pictureOffset(plan.columns), top = pictureOffset(plan.rows);
    std::vector<std::uint8_t> rgb(plan.rowBytes());
    for (std::uint64_t row = 0; row < plainRows; ++row) {
        const std::int64_t y = static_cast<std::int64_t>(row) * plan.scale - top;
        if (y < 0 || y >= static_cast<std::int64_t>(height))
            continue;
        computeRow(plan, rows[static_cast<std::size_t>(y)], rgb.data());
        for (std::uint64_t column = 0; column < plainColumns; ++column) {
            const std::int64_t x = static_cast<std::int64_t>(column) * plan.scale - left;
            if (x < 0 || x >= static_cast<std::int64_t>(width))
                continue;
            const std::uint8_t* pixel = &rgb[3 * static_cast<std::size_t>(x)];
            const Colour drawn = window.colours[column * plainRows + row];
            FUZZ_CHECK((colourValue(Colour{pixel[0], pixel[1], pixel[2]}) == colourValue(drawn)),
                       about + ": column " + std::to_string(column) + ", row " +
                           std::to_string(row));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    useEnvironmentLocale();
    const std::vector<std::string_view> parts = lines(data, size);
    const std::vector<std::string> arguments(parts.begin(), parts.end());
    std::string about = "spirell-render";
    for (const std::string& argument : arguments)
        about += " " + quoted(argument);

    try {
        CommandLine line;
        expectOnlyInputError(about, [&] { line = parseCommandLine(arguments); });
        if (line.help || line.version || !line.from.empty() || line.animate)
            return 0;
        FUZZ_CHECK(!line.output.empty() && line.formula, about);
        const ImageSettings settings = resolveSettings(line);
        if (!isQuickToPlan(settings))
            return 0;
        const Computing computing = computingFromEnvironment();
        ImagePlan plan;
        expectOnlyInputError(about, [&] { plan = planImage(settings, computing); });
        checkPlan(plan, computing, about);
    } catch (const InputError&) {
    }
    return 0;
}
