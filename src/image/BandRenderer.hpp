#pragma once

#include "image/ImagePlan.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace spirell::image {

// About this many bytes of pixels per band; two bands are alive at a time.
inline constexpr std::size_t kBandBytes = std::size_t{4} << 20;

struct BandOptions {
    unsigned threads = 1;
    std::size_t bandRows = 0; // 0: as many rows as fit kBandBytes
};

// Threads beyond kThreadsPerCore per core only cost memory: a band holds at
// least one row per thread, so the two bands take about
// 2 x max(kBandBytes, threads x row bytes).

// The threads to compute an image of so many rows with: the number asked for,
// or one per usable core, but no more than kThreadsPerCore per usable core and
// no more than the image has rows, which is all one band can give them.
unsigned computingThreads(std::optional<unsigned> requested, std::uint64_t rows);

using RowSink = std::function<void(const std::uint8_t* rgb)>;
using ProgressSink = std::function<void(std::uint64_t rowsDone)>;

// Computes the image in bands of rows on worker threads and hands the rows to
// the sink in order, top to bottom, on the calling thread. While the sink takes
// one band the workers compute the next. The result does not depend on the
// number of threads or the band height.
void renderRows(const ImagePlan& plan, const BandOptions& options, const RowSink& sink,
                const ProgressSink& progress = {});

} // namespace spirell::image
