#pragma once

#include "image/ImagePlan.hpp"
#include "image/PngEncoding.hpp"
#include "image/PngFile.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>

namespace spirell::image {

// About this many bytes of pixels per band. renderRows keeps two bands alive,
// renderPng three and their compressed pieces.
inline constexpr std::size_t kBandBytes = std::size_t{1} << 20;

struct BandOptions {
    unsigned threads = 1;
    std::size_t bandRows = 0; // 0: as many rows as fit kBandBytes
    // Set from any thread to stop the render: the workers skip what they have
    // not begun, and the render throws Cancelled within about one band.
    const std::atomic<bool>* cancel = nullptr;
};

// A band holds at least one row per thread, so the bands take about
// 3 x max(kBandBytes, threads x row bytes) and as much again compressed:
// threadsFor() keeps the threads to what the cores and rows can use.

using RowSink = std::function<void(const std::uint8_t* rgb)>;
// Called on the thread that renders, with the rows done so far, after each band.
using ProgressSink = std::function<void(std::uint64_t rowsDone)>;

// Computes the image in bands of rows on worker threads and hands the rows to
// the sink in order, top to bottom, on the calling thread. While the sink takes
// one band the workers compute the next. The result does not depend on the
// number of threads or the band height. Throws Cancelled when asked to stop;
// no worker outlives the call, whatever it throws.
void renderRows(const ImagePlan& plan, const BandOptions& options, const RowSink& sink,
                const ProgressSink& progress = {});

// How renderPng encodes; the file depends on these and on the plan alone.
struct PngEncoding {
    Compression compression = defaultCompression();
    std::size_t pieceBytes = kPieceBytes;
};

// About the most memory renderPng takes for an image of plainColumns plain
// columns at a scale, height rows high, with so many threads: the plan's
// world X values, the bands of rows and their compressed pieces, and each
// thread's filtered row and compression state. The threads' stacks are left
// out: a thread that cannot start only leaves its work to the others.
std::uint64_t renderPngMemory(std::uint64_t plainColumns, int scale, std::uint64_t height,
                              unsigned threads, const PngEncoding& encoding = {});

// Writes the image as a PNG with the texts before its image data. The
// workers compute one band while they filter and compress the band before
// it, and the calling thread writes the one before that; progress counts the
// rows written. The file is the same for every number of threads and band
// height. Throws RenderFailure when writing fails and Cancelled when asked to
// stop; either way what was written is incomplete, and no worker outlives the
// call. The image may be a band of a larger picture, in its place in the
// picture's stream (PngWriter).
void renderPng(const ImagePlan& plan, const TextChunks& texts, std::FILE* file,
               const BandOptions& options, const ProgressSink& progress = {},
               const PngEncoding& encoding = {}, const StreamPlace& place = {});

} // namespace spirell::image
