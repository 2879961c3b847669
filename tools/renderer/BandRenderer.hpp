#pragma once

#include "renderer/ImagePlan.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace spirell::tool {

// About this many bytes of pixels per band; two bands are alive at a time.
inline constexpr std::size_t kBandBytes = std::size_t{4} << 20;

struct BandOptions {
    unsigned threads = 1;
    std::size_t bandRows = 0; // 0: as many rows as fit kBandBytes
};

using RowSink = std::function<void(const std::uint8_t* rgb)>;
using ProgressSink = std::function<void(std::uint64_t rowsDone)>;

// Computes the image in bands of rows on worker threads and hands the rows to
// the sink in order, top to bottom, on the calling thread. While the sink takes
// one band the workers compute the next. The result does not depend on the
// number of threads or the band height.
void renderRows(const ImagePlan& plan, const BandOptions& options, const RowSink& sink,
                const ProgressSink& progress = {});

} // namespace spirell::tool
