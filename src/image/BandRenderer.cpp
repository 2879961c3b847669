#include "image/BandRenderer.hpp"

#include "image/WorkerPool.hpp"

#include <algorithm>
#include <utility>
#include <vector>

namespace spirell::image {

namespace {

struct Band {
    std::vector<double> rowY; // world Y of each image row in the band
    std::vector<std::uint8_t> pixels;
};

} // namespace

unsigned computingThreads(std::optional<unsigned> requested, std::uint64_t rows) {
    const unsigned cores = usableCores();
    const std::uint64_t wanted = requested ? *requested : cores;
    return static_cast<unsigned>(std::max<std::uint64_t>(
        std::min({wanted, std::uint64_t{kThreadsPerCore} * cores, rows}), 1));
}

void renderRows(const ImagePlan& plan, const BandOptions& options, const RowSink& sink,
                const ProgressSink& progress) {
    const unsigned threads = std::max(options.threads, 1u);
    const std::size_t rowBytes = plan.rowBytes();
    // At least one row per thread, or a very wide image would keep all but one idle.
    const std::size_t bandRows = std::min<std::size_t>(
        options.bandRows ? options.bandRows : std::max<std::size_t>(threads, kBandBytes / rowBytes),
        std::max<std::size_t>(plan.height(), 1));

    Band bands[2];
    for (Band& band : bands) {
        band.rowY.reserve(bandRows);
        band.pixels.resize(bandRows * rowBytes);
    }
    WorkerPool pool(threads);
    std::uint64_t rowsDone = 0;
    Band* computing = nullptr; // started on the workers, not yet handed to the sink

    const auto handOver = [&](Band& band) {
        for (std::size_t i = 0; i < band.rowY.size(); ++i)
            sink(&band.pixels[i * rowBytes]);
        rowsDone += band.rowY.size();
        band.rowY.clear();
        if (progress)
            progress(rowsDone);
    };
    // Starts the filled band and, while it is computed, hands over the one before.
    const auto startBand = [&](Band& band) {
        pool.wait();
        Band* previous = std::exchange(computing, &band);
        pool.start(band.rowY.size(), [&band, &plan, rowBytes](std::size_t i) {
            computeRow(plan, band.rowY[i], &band.pixels[i * rowBytes]);
        });
        if (previous)
            handOver(*previous);
    };

    Band* filling = &bands[0];
    // The frame's own row loop gives the world Y values, so they are the very
    // values the window's drawing uses.
    plan.rows.forEach([&](std::int64_t, double Y) {
        for (int s = 0; s < plan.scale; ++s) {
            filling->rowY.push_back(subPixelValue(Y, s, plan.scale));
            if (filling->rowY.size() == bandRows) {
                startBand(*filling);
                filling = filling == &bands[0] ? &bands[1] : &bands[0];
            }
        }
        return true;
    });
    if (!filling->rowY.empty())
        startBand(*filling);
    pool.wait();
    if (computing)
        handOver(*computing);
}

} // namespace spirell::image
