#pragma once

#include "lanes/Batch.hpp"

#include <cstddef>

namespace spirell::lanes {

// The colours of pixels on one line of an image: a row (one Y, an X for each
// pixel) or a column (one X, a Y for each pixel). The pixels added go to the
// colour batch function a batch at a time, and each colour to take(place,
// colour) with the place its pixel was added with, in the order added.
enum class Line { Row, Column };

template <typename Take> class LineColours {
public:
    // Pixels handed to the batch function at a time.
    static constexpr std::size_t kBatchPixels = 256;

    // fixed: the line's Y for a row, its X for a column.
    LineColours(ColourBatch batch, const LevelRule& rule, Line line, double fixed, Take take)
        : batch_(batch), rule_(rule), fixed_(fixed), take_(take) {
        pixels_.X = line == Line::Row ? coordinates_ : &fixed_;
        pixels_.xStride = line == Line::Row ? 1 : 0;
        pixels_.Y = line == Line::Row ? &fixed_ : coordinates_;
        pixels_.yStride = line == Line::Row ? 0 : 1;
    }
    LineColours(const LineColours&) = delete;
    LineColours& operator=(const LineColours&) = delete;

    // Adds the pixel at coordinate along the line.
    void add(double coordinate, std::size_t place) {
        coordinates_[pixels_.count] = coordinate;
        places_[pixels_.count] = place;
        if (++pixels_.count == kBatchPixels)
            flush();
    }

    // Computes the pixels added since the last batch; call it after the last.
    void flush() {
        if (pixels_.count == 0)
            return;
        batch_(rule_, pixels_, colours_);
        for (std::size_t i = 0; i < pixels_.count; ++i)
            take_(places_[i], colours_[i]);
        pixels_.count = 0;
    }

private:
    ColourBatch batch_;
    LevelRule rule_;
    double fixed_;
    Take take_;
    PixelBatch pixels_;
    double coordinates_[kBatchPixels];
    std::size_t places_[kBatchPixels];
    formulas::Colour colours_[kBatchPixels];
};

} // namespace spirell::lanes
