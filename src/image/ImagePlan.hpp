#pragma once

#include "base/Limits.hpp"
#include "drawing/Computing.hpp"
#include "drawing/DrawingFrame.hpp"
#include "drawing/ViewParams.hpp"
#include "image/ImageSettings.hpp"

#include <cstdint>
#include <vector>

namespace spirell::image {

// What one render will compute: the formula, its view, the world X of every
// plain column and the loop that gives every plain row's world Y, exactly as
// the window's drawing frame would visit them.
struct ImagePlan {
    const formulas::Formula* formula = nullptr;
    drawing::ViewParams view;
    int scale = 1;
    const lanes::KernelTable* kernels = nullptr; // the width that computes the colours
    unsigned threads = 1;                        // the threads that share the rows
    std::vector<double> columns;                 // world X of each plain column, left to right
    drawing::LoopRange rows;                     // world Y of each plain row, top to bottom
    std::uint64_t rowCount = 0;

    std::uint32_t width() const { return static_cast<std::uint32_t>(columns.size() * scale); }
    std::uint32_t height() const { return static_cast<std::uint32_t>(rowCount * scale); }
    std::size_t rowBytes() const { return std::size_t{3} * width(); }
};

// Reads the view the way a button click does, to be computed with the
// computing's instruction set on as many of its threads as the rows can use.
// Throws InputError for an unknown formula, a box text that overflows, a size
// that draws nothing or an image of more than base::kMaxPixels pixels, and
// RenderFailure ("not enough memory for ...") when rendering it as a PNG
// would take more memory than the system can give (renderPngMemory,
// base::availableMemory).
ImagePlan planImage(const ImageSettings& settings, const drawing::Computing& computing);

// Whether an image of so many plain columns and rows stays within
// base::kMaxSide and base::kMaxPixels at a scale.
bool fitsTheLimits(std::uint64_t columns, std::uint64_t rows, int scale);

// The world value of sub-pixel s (0..scale-1) of a plain pixel at base: scale
// sub-pixels share each world unit. Sub-pixel 0 is the plain pixel itself.
double subPixelValue(double base, int s, int scale);

// Fills one image row at world Y: three bytes (red, green, blue) per pixel.
void computeRow(const ImagePlan& plan, double Y, std::uint8_t* rgb);

} // namespace spirell::image
