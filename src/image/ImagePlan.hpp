#pragma once

#include "base/Limits.hpp"
#include "drawing/Computing.hpp"
#include "drawing/DrawingFrame.hpp"
#include "drawing/ViewParams.hpp"
#include "image/ImageSettings.hpp"

#include <cstdint>
#include <vector>

namespace spirell::image {

// The world values of an image's pixels along one side. The view's loop
// gives the plain values, as the window's drawing frame visits them: its
// first value, then one added at each step. An image that reaches past the
// loop continues it: before the first value come the first value minus 1,
// minus 2, ..., after the last the loop goes on adding 1. Each plain value
// has scale pixels, its sub-pixels (subPixelValue).
struct PixelAxis {
    double first = 0; // the loop's first value, plain step 0
    std::int64_t firstStep =
        0;                 // the plain step of the image's first pixel; below 0 before the loop
    int firstSubPixel = 0; // and its sub-pixel, 0 to scale - 1
    std::uint64_t pixels = 0;
    int scale = 1;

    // Calls visit(value) with the world value of each pixel in order.
    template <typename Visit> void forEach(Visit&& visit) const;
    // The same axis with one pixel for each plain value it touches.
    PixelAxis plain() const;
};

// What one render will compute: the formula, its view, and the world X of
// every column and the world Y of every row of the image.
struct ImagePlan {
    const formulas::Formula* formula = nullptr;
    drawing::ViewParams view;
    int scale = 1;
    const lanes::KernelTable* kernels = nullptr; // the width that computes the colours
    unsigned threads = 1;                        // the threads that share the rows
    PixelAxis columns;                           // left to right
    PixelAxis rows;                              // top to bottom, given as the rows are computed
    // World X of each plain column the image touches, from the one that
    // holds its first pixel: a row's sub-pixels are worked out as it is
    // computed, so that the list takes no more memory than the picture's.
    std::vector<double> plainColumnX;

    std::uint32_t width() const { return static_cast<std::uint32_t>(columns.pixels); }
    std::uint32_t height() const { return static_cast<std::uint32_t>(rows.pixels); }
    std::size_t rowBytes() const { return std::size_t{3} * width(); }
};

// Pixels added right of and below an image, where its columns and rows go on
// as they would in a larger frame: a video that needs even sides takes them
// instead of cutting pixels off or adding black ones.
struct ExtraPixels {
    std::uint32_t columns = 0;
    std::uint32_t rows = 0;
};

// Reads the view the way a button click does, to be computed with the
// computing's instruction set on as many of its threads as the rows can use.
//
// Without a frame the image is the view's own picture: pixel for pixel what
// the window draws, at the scale. A frame of W x H pixels shows the same
// plane around the same centre: the picture's pixels (at the scale) where
// they overlap, the loops continued (PixelAxis) where the frame reaches past
// the picture, its middle part where the frame is smaller. Where the frame
// and the picture differ by an odd number of pixels, the one pixel left over
// is on the right (below): a larger frame reaches one pixel further right
// than left, a smaller one leaves out one more pixel on the right than on the
// left. extra adds pixels right of and below the image, the frame staying
// where it was.
//
// Throws InputError for an unknown formula, a box text that overflows, a size
// that draws nothing or an image of more than base::kMaxPixels pixels, and
// RenderFailure ("not enough memory for ...") when rendering it as a PNG
// would take more memory than the system can give (renderPngMemory,
// base::availableMemory).
ImagePlan planImage(const ImageSettings& settings, const drawing::Computing& computing,
                    const ExtraPixels& extra = {});

// Whether an image of so many plain columns and rows stays within
// base::kMaxSide and base::kMaxPixels at a scale.
bool fitsTheLimits(std::uint64_t columns, std::uint64_t rows, int scale);

// The world value of sub-pixel s (0..scale-1) of a plain pixel at base: scale
// sub-pixels share each world unit. Sub-pixel 0 is the plain pixel itself.
double subPixelValue(double base, int s, int scale);

// Fills one image row at world Y: three bytes (red, green, blue) per pixel.
void computeRow(const ImagePlan& plan, double Y, std::uint8_t* rgb);

template <typename Visit> void PixelAxis::forEach(Visit&& visit) const {
    // Before the loop each value is the first minus a whole number; on it and
    // after it each value is the one before plus 1, as the loop itself adds,
    // so the values within the picture are the loop's very own.
    std::int64_t step = firstStep;
    double value = first;
    if (step < 0)
        value = first - static_cast<double>(-step);
    for (std::int64_t skipped = 0; skipped < step; ++skipped)
        value += 1;
    int subPixel = firstSubPixel;
    for (std::uint64_t pixel = 0; pixel < pixels; ++pixel) {
        visit(subPixelValue(value, subPixel, scale));
        if (++subPixel == scale) {
            subPixel = 0;
            ++step;
            value = step <= 0 ? first - static_cast<double>(-step) : value + 1;
        }
    }
}

} // namespace spirell::image
