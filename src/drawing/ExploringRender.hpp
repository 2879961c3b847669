#pragma once

#include "drawing/Computing.hpp"
#include "drawing/DrawingFrame.hpp"
#include "drawing/DrawingSurface.hpp"
#include "drawing/ViewParams.hpp"
#include "formulas/Formula.hpp"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace spirell::base {
class WorkerPool;
}

namespace spirell::drawing {

struct ExploredPicture;

// A run of rows of an exploring render's picture, ready to be shown: colours
// as 0xffRRGGBB, row after row, of the whole picture's width.
struct ExploredRows {
    std::uint64_t generation = 0;
    int width = 0;    // of the whole picture
    int height = 0;   // of the whole picture
    int firstRow = 0; // where these rows go
    std::vector<std::uint32_t> pixels;
    bool complete = false; // the last piece of the render: the picture is exact
    // The pixels this render has computed so far; the others it kept.
    std::uint64_t computedPixels = 0;
};

// Renders views for exploring off the calling thread, on the computing
// threads: coarse first, then finer passes on a staggered grid (one pixel in
// 16 x 16, then 8 x 8, down to every pixel), each computed pixel filling its
// block until a finer pass replaces it. No pixel is computed twice, so the
// last pass completes the exact picture, the same bits as the frame's
// drawing of the view, at the cost of one render.
//
// Pixels an earlier render computed are kept where the new view gives their
// column and row the very same world coordinates, bit for bit, with the same
// formula, zoom and brightness: a pan by whole pixels computes only the strips
// it uncovers.
//
// Each request supersedes the render under way, which stops at its next row;
// requests that come while one is being given up merge, and only the latest
// is rendered. The pieces are handed to deliver on the render's own thread.
class ExploringRender {
public:
    using Delivery = std::function<void(std::shared_ptr<const ExploredRows>)>;

    // Throws base::RenderFailure when the render's thread cannot start.
    ExploringRender(const Computing& computing, Delivery deliver);
    ~ExploringRender();
    ExploringRender(const ExploringRender&) = delete;
    ExploringRender& operator=(const ExploringRender&) = delete;

    // Starts rendering the formula in the view, cut to shown; returns the
    // generation its pieces carry.
    std::uint64_t request(const formulas::Formula& formula, const ViewParams& view,
                          DrawingSurface::Size shown);

    // Hands over a picture that is already exact (a finished drawing of the
    // view), so that the next request can keep its pixels. pixels holds
    // 0xffRRGGBB colours row after row, of the view's grid cut to shown. It
    // waits beside the latest request, and the render's thread takes it up
    // before that request.
    void adopt(const formulas::Formula& formula, const ViewParams& view, DrawingSurface::Size shown,
               std::vector<std::uint32_t> pixels);

    // Gives up the render under way: none of its pieces carries the current
    // generation any more.
    void cancel();

    // Pieces of any other generation are stale and never to be shown.
    std::uint64_t currentGeneration() const { return generation_.load(); }

private:
    struct Request {
        const formulas::Formula* formula = nullptr;
        ViewParams view;
        DrawingSurface::Size shown{0, 0};
        std::uint64_t generation = 0;
    };
    struct Adopted {
        const formulas::Formula* formula = nullptr;
        ViewParams view;
        DrawingSurface::Size shown{0, 0};
        std::vector<std::uint32_t> pixels;
    };
    void run();
    void takeUp(Adopted& adopted);
    void render(const Request& request);
    // Runs task(0) to task(count - 1) on the computing threads and waits for them.
    void onComputingThreads(int count, const std::function<void(int)>& task);
    bool superseded(std::uint64_t generation) const { return generation_.load() != generation; }

    Computing computing_;
    Delivery deliver_;
    std::atomic<std::uint64_t> generation_{0};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<Request> next_;    // the latest request not yet taken up
    std::optional<Adopted> adopted_; // the latest picture handed over, not yet taken up
    bool stopping_ = false;
    std::unique_ptr<ExploredPicture>
        picture_; // the last picture, for its pixels; the render thread's
    std::unique_ptr<base::WorkerPool> pool_;
    std::thread thread_;
};

} // namespace spirell::drawing
