#include "image/BandRenderer.hpp"

#include "base/Errors.hpp"
#include "base/WorkerPool.hpp"

#include <algorithm>
#include <utility>
#include <vector>

namespace spirell::image {

namespace {

// At least one row per thread, or a very wide image would keep all but one
// idle; whole pieces, so that the pieces are cut where the width says.
std::size_t rowsPerBand(std::size_t rowBytes, std::uint64_t height, unsigned threads,
                        std::size_t pieceRows, std::size_t requested) {
    const std::size_t wanted =
        requested ? requested : std::max<std::size_t>(threads, kBandBytes / rowBytes);
    return static_cast<std::size_t>(std::min<std::uint64_t>(
        (wanted + pieceRows - 1) / pieceRows * pieceRows, std::max<std::uint64_t>(height, 1)));
}

struct Band {
    std::vector<double> rowY;         // world Y of each image row in the band
    std::vector<std::uint8_t> pixels; // the band's rows
    std::vector<CompressedPiece> pieces;
    std::size_t pieceCount = 0;
    bool endsImage = false;

    std::uint8_t* row(std::size_t i, std::size_t rowBytes) { return &pixels[i * rowBytes]; }
};

// What happens to a band once its rows are computed.
struct Stages {
    const Compression* compression = nullptr; // null: the rows are handed over uncompressed
    std::size_t pieceRows = 1;
    bool endsStream = true;              // the image's last piece ends the zlib stream
    std::function<void(Band&)> handOver; // on the calling thread, bands in order
};

// Runs the bands through the stages. Each batch of the workers computes one
// band and compresses the band before, while the calling thread hands over
// the band before that; so two or three bands are alive at a time.
void runBands(const ImagePlan& plan, const BandOptions& options, const Stages& stages,
              const ProgressSink& progress) {
    const unsigned threads = std::max(options.threads, 1u);
    const std::size_t rowBytes = plan.rowBytes();
    const bool compressing = stages.compression != nullptr;
    const std::size_t bandRows =
        rowsPerBand(rowBytes, plan.height(), threads, stages.pieceRows, options.bandRows);

    std::atomic<bool> abandoned{false}; // the render failed on the calling thread
    const auto stopped = [&] {
        return abandoned.load(std::memory_order_relaxed) ||
               (options.cancel && options.cancel->load(std::memory_order_relaxed));
    };

    const std::size_t depth = compressing ? 3 : 2;
    // Each band gets its memory when it is first filled, so that an image of
    // one or two bands, such as a very wide one, holds no more.
    Band bands[3];
    const auto prepare = [&](Band& band) {
        band.rowY.reserve(bandRows);
        band.pixels.resize(bandRows * rowBytes);
    };
    const auto compressTask = [&](Band& band, std::size_t i) {
        const std::size_t first = i * stages.pieceRows;
        const std::size_t count = std::min(stages.pieceRows, band.rowY.size() - first);
        compressPiece(band.row(first, rowBytes), count, rowBytes,
                      stages.endsStream && band.endsImage && i + 1 == band.pieceCount,
                      *stages.compression, band.pieces[i]);
    };

    // The tasks use only what is declared above: the pool's end waits for
    // the batch under way, which must find all of it still there.
    base::WorkerPool pool(threads);
    // On the way out by an exception, the workers skip what they have not
    // begun, so that the pool's end waits for little.
    struct Abandon {
        std::atomic<bool>& flag;
        ~Abandon() { flag = true; }
    } abandonOnExit{abandoned};

    std::uint64_t rowsDone = 0;
    Band* computed = nullptr;   // computed in the batch under way, to be compressed
    Band* compressed = nullptr; // compressed in the batch under way, to be handed over

    // Waits for the batch under way, then starts the next: the rows of the
    // given band, if any, and the compression of the band computed before.
    // The band that is ready is handed over while the workers are busy.
    const auto step = [&](Band* toCompute) {
        pool.wait();
        if (stopped())
            throw base::Cancelled();
        Band* toCompress = compressing ? std::exchange(computed, nullptr) : nullptr;
        Band* ready =
            compressing ? std::exchange(compressed, nullptr) : std::exchange(computed, nullptr);

        std::size_t pieceTasks = 0;
        if (toCompress) {
            toCompress->endsImage = toCompute == nullptr;
            toCompress->pieceCount =
                (toCompress->rowY.size() + stages.pieceRows - 1) / stages.pieceRows;
            toCompress->pieces.resize(std::max(toCompress->pieces.size(), toCompress->pieceCount));
            pieceTasks = toCompress->pieceCount;
        }
        const std::size_t rowTasks = toCompute ? toCompute->rowY.size() : 0;
        // The pieces go first: they are the larger tasks, and the rows after
        // them even out the end of the batch.
        if (pieceTasks + rowTasks > 0)
            pool.start(pieceTasks + rowTasks,
                       [&, toCompress, toCompute, pieceTasks](std::size_t i) {
                           if (stopped())
                               return;
                           if (i < pieceTasks)
                               compressTask(*toCompress, i);
                           else
                               computeRow(plan, toCompute->rowY[i - pieceTasks],
                                          toCompute->row(i - pieceTasks, rowBytes));
                       });
        computed = toCompute;
        compressed = toCompress;

        if (ready) {
            stages.handOver(*ready);
            rowsDone += ready->rowY.size();
            ready->rowY.clear();
            if (progress)
                progress(rowsDone);
        }
    };

    std::size_t filling = 0;
    // The rows' world Y values come one at a time, as the view's row loop
    // gives them, so that an image of any height needs no list of them.
    plan.rows.forEach([&](double Y) {
        if (bands[filling].pixels.empty())
            prepare(bands[filling]);
        bands[filling].rowY.push_back(Y);
        if (bands[filling].rowY.size() == bandRows) {
            step(&bands[filling]);
            filling = (filling + 1) % depth;
        }
    });
    if (!bands[filling].rowY.empty())
        step(&bands[filling]);
    while (computed || compressed)
        step(nullptr);
}

} // namespace

void renderRows(const ImagePlan& plan, const BandOptions& options, const RowSink& sink,
                const ProgressSink& progress) {
    const std::size_t rowBytes = plan.rowBytes();
    Stages stages;
    stages.handOver = [&](Band& band) {
        for (std::size_t i = 0; i < band.rowY.size(); ++i)
            sink(band.row(i, rowBytes));
    };
    runBands(plan, options, stages, progress);
}

std::uint64_t renderPngMemory(std::uint64_t plainColumns, int scale, std::uint64_t height,
                              unsigned threads, const PngEncoding& encoding) {
    threads = std::max(threads, 1u);
    const std::uint64_t rowBytes = 3 * plainColumns * static_cast<std::uint64_t>(scale);
    const std::size_t rowsInPiece = pieceRows(rowBytes, encoding.pieceBytes);
    const std::uint64_t bandRows = rowsPerBand(rowBytes, height, threads, rowsInPiece, 0);
    const std::uint64_t bands = std::min<std::uint64_t>(3, (height + bandRows - 1) / bandRows);
    const std::uint64_t piecesInBand = (bandRows + rowsInPiece - 1) / rowsInPiece;
    // A piece's bytes keep the room deflate may need at worst, zlib's bound
    // for its default window: the input and a few hundredths of a percent.
    const std::uint64_t pieceInput = rowsInPiece * (rowBytes + 1);
    const std::uint64_t pieceRoom =
        pieceInput + (pieceInput >> 12) + (pieceInput >> 14) + (pieceInput >> 25) + 7;
    const std::uint64_t band =
        bandRows * rowBytes + bandRows * sizeof(double) + piecesInBand * pieceRoom;
    // Each thread that compresses keeps its deflate state and filters one row
    // at a time, against a row of zeros at the top of its piece.
    constexpr std::uint64_t kDeflateStateBytes = std::uint64_t{320} << 10;
    const std::uint64_t compressing = std::min<std::uint64_t>(threads, piecesInBand);
    return plainColumns * sizeof(double) + bands * band + compressing * (2 * rowBytes + 1) +
           threads * kDeflateStateBytes;
}

void renderPng(const ImagePlan& plan, const TextChunks& texts, std::FILE* file,
               const BandOptions& options, const ProgressSink& progress,
               const PngEncoding& encoding, const StreamPlace& place) {
    PngWriter writer(file, plan.width(), plan.height(), texts, encoding.compression, place);
    Stages stages;
    stages.compression = &encoding.compression;
    stages.endsStream = place.ends;
    stages.pieceRows = pieceRows(plan.rowBytes(), encoding.pieceBytes);
    stages.handOver = [&](Band& band) {
        for (std::size_t i = 0; i < band.pieceCount; ++i)
            writer.writePiece(band.pieces[i]);
    };
    runBands(plan, options, stages, progress);
    writer.finish();
}

} // namespace spirell::image
