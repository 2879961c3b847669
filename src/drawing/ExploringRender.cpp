#include "drawing/ExploringRender.hpp"

#include "base/WorkerPool.hpp"
#include "drawing/DrawingFrame.hpp"

#include <algorithm>
#include <bit>
#include <chrono>
#include <unordered_map>

namespace spirell::drawing {

namespace {

// The coarsest pass computes one pixel in this many along each side.
constexpr int kCoarsestStep = 16;

// Pieces go out no more often than a screen refreshes.
constexpr auto kPieceInterval = std::chrono::milliseconds(16);

// Pixels handed to a batch function at a time.
constexpr std::size_t kBatchPixels = 256;

std::uint32_t packed(formulas::Colour colour) {
    return 0xff000000u | (std::uint32_t{colour.red} << 16) | (std::uint32_t{colour.green} << 8) |
           colour.blue;
}

// For each value, the index of a value of before with the very same bits, or -1.
std::vector<int> sameValues(const std::vector<double>& values, const std::vector<double>& before) {
    std::unordered_map<std::uint64_t, int> index;
    for (std::size_t i = 0; i < before.size(); ++i)
        index.emplace(std::bit_cast<std::uint64_t>(before[i]), static_cast<int>(i));
    std::vector<int> found(values.size(), -1);
    for (std::size_t i = 0; i < values.size(); ++i)
        if (const auto match = index.find(std::bit_cast<std::uint64_t>(values[i]));
            match != index.end())
            found[i] = match->second;
    return found;
}

// The rows of a pass, in groups shown one after another: the last pass, which
// holds three quarters of the pixels, is shown in two steps. Each group costs
// the window a copy and a repaint, and the workers a wait for the slowest row.
int groupsOfPass(int step) {
    return step == 1 ? 2 : 1;
}

} // namespace

ViewGrid viewGrid(const ViewParams& view, DrawingSurface::Size shown) {
    ViewGrid grid;
    rowRange(view).forEach([&](std::int64_t row, double Y) {
        if (row > shown.height)
            return false;
        grid.rowY.push_back(Y);
        return true;
    });
    if (grid.rowY.empty())
        return grid;
    columnRange(view).forEach([&](std::int64_t column, double X) {
        if (column > shown.width)
            return false;
        grid.columnX.push_back(X);
        return true;
    });
    return grid;
}

// What a render made: its pixels, which of them are exact, and what they were
// computed with.
struct ExploringRender::Picture {
    int formulaIndex = -1;
    double zoom = 0;
    double brightness = 0;
    ViewGrid grid;
    std::vector<std::uint32_t> pixels;
    std::vector<std::uint8_t> exact;

    int width() const { return static_cast<int>(grid.columnX.size()); }
    int height() const { return static_cast<int>(grid.rowY.size()); }
    std::size_t at(int column, int row) const {
        return static_cast<std::size_t>(row) * grid.columnX.size() + column;
    }
    // A picture of the view with no pixels yet.
    static std::unique_ptr<Picture> of(const formulas::Formula& formula, const ViewParams& view,
                                       DrawingSurface::Size shown) {
        auto picture = std::make_unique<Picture>();
        picture->formulaIndex = formula.index;
        picture->zoom = view.zoom;
        picture->brightness = view.brightness;
        picture->grid = viewGrid(view, shown);
        return picture;
    }
    // Whether a pixel with the same world coordinates has the same colour here.
    bool computedLike(const formulas::Formula& formula, const ViewParams& view) const {
        return formulaIndex == formula.index &&
               std::bit_cast<std::uint64_t>(zoom) == std::bit_cast<std::uint64_t>(view.zoom) &&
               std::bit_cast<std::uint64_t>(brightness) ==
                   std::bit_cast<std::uint64_t>(view.brightness);
    }
};

ExploringRender::ExploringRender(const Computing& computing, Delivery deliver)
    : computing_(computing), deliver_(std::move(deliver)) {
    // The computing threads live as long as the render. Where none can start,
    // the render's own thread computes alone.
    try {
        pool_ = std::make_unique<base::WorkerPool>(
            threadsFor(computing_.threads, std::uint64_t{computing_.threads}));
    } catch (...) {
    }
    thread_ = base::startThread([this] { run(); }, "exploring render");
}

ExploringRender::~ExploringRender() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        ++generation_;
    }
    wake_.notify_all();
    thread_.join();
}

std::uint64_t ExploringRender::request(const formulas::Formula& formula, const ViewParams& view,
                                       DrawingSurface::Size shown) {
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        generation = ++generation_;
        next_ = Request{&formula, view, shown, generation};
    }
    wake_.notify_all();
    return generation;
}

void ExploringRender::adopt(const formulas::Formula& formula, const ViewParams& view,
                            DrawingSurface::Size shown, std::vector<std::uint32_t> pixels) {
    {
        std::lock_guard lock(mutex_);
        adopted_ = Adopted{&formula, view, shown, std::move(pixels)};
    }
    wake_.notify_all();
}

void ExploringRender::cancel() {
    std::lock_guard lock(mutex_);
    ++generation_;
    next_.reset();
}

void ExploringRender::run() {
    for (;;) {
        std::optional<Adopted> adopted;
        std::optional<Request> request;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || next_ || adopted_; });
            if (stopping_)
                return;
            adopted.swap(adopted_);
            request.swap(next_);
        }
        try {
            // The picture handed over is newer than any render before it.
            if (adopted)
                takeUp(*adopted);
            if (request)
                render(*request);
        } catch (...) {
            // A render that failed (no memory, no thread) shows nothing more;
            // the next request starts afresh.
            picture_.reset();
        }
    }
}

void ExploringRender::takeUp(Adopted& adopted) {
    auto picture = Picture::of(*adopted.formula, adopted.view, adopted.shown);
    const std::size_t pixelCount = std::size_t(picture->width()) * picture->height();
    if (adopted.pixels.size() != pixelCount)
        return; // not a picture of the view: keep nothing of it
    picture->pixels = std::move(adopted.pixels);
    picture->exact.assign(pixelCount, 1);
    picture_ = std::move(picture);
}

void ExploringRender::render(const Request& request) {
    const formulas::Formula& formula = *request.formula;
    const ViewParams& view = request.view;
    auto picture = Picture::of(formula, view, request.shown);
    const int width = picture->width();
    const int height = picture->height();
    const std::size_t pixelCount = static_cast<std::size_t>(width) * height;

    picture->pixels.assign(pixelCount, 0xff000000u);
    picture->exact.assign(pixelCount, 0);
    // Keep what the last picture computed for the same world coordinates.
    bool keptAny = false;
    if (picture_ && picture_->computedLike(formula, view)) {
        const Picture& before = *picture_;
        const std::vector<int> columns = sameValues(picture->grid.columnX, before.grid.columnX);
        const std::vector<int> rows = sameValues(picture->grid.rowY, before.grid.rowY);
        for (int row = 0; row < height; ++row) {
            if (rows[row] < 0)
                continue;
            for (int column = 0; column < width; ++column) {
                if (columns[column] < 0)
                    continue;
                const std::size_t from = before.at(columns[column], rows[row]);
                if (before.exact[from]) {
                    picture->pixels[picture->at(column, row)] = before.pixels[from];
                    picture->exact[picture->at(column, row)] = 1;
                    keptAny = true;
                }
            }
        }
    }
    picture_ = std::move(picture);
    Picture& shown = *picture_;
    if (pixelCount == 0 || superseded(request.generation))
        return;

    const lanes::ColourBatch batch = computing_.kernels().colours[formula.index];
    const lanes::LevelRule rule = levelRule(formula, view);
    std::atomic<std::uint64_t> computed{0};
    const auto computeRow = [&](int step, int row) {
        if (superseded(request.generation))
            return;
        // The pass's pixels in this row: every step-th column, or, in the rows
        // a coarser pass visited, only those it did not.
        const bool visitedBefore = step < kCoarsestStep && row % (2 * step) == 0;
        const int firstColumn = visitedBefore ? step : 0;
        const int columnStep = visitedBefore ? 2 * step : step;
        // The pixels not yet exact, a batch at a time.
        int wanted[kBatchPixels];
        double X[kBatchPixels];
        formulas::Colour colours[kBatchPixels];
        const double Y = shown.grid.rowY[row];
        lanes::PixelBatch pixels;
        pixels.X = X;
        pixels.xStride = 1;
        pixels.Y = &Y;
        const auto flush = [&] {
            batch(rule, pixels, colours);
            computed += pixels.count;
            for (std::size_t i = 0; i < pixels.count; ++i) {
                const std::size_t at = shown.at(wanted[i], row);
                shown.pixels[at] = packed(colours[i]);
                shown.exact[at] = 1;
            }
            pixels.count = 0;
        };
        for (int column = firstColumn; column < width; column += columnStep) {
            if (shown.exact[shown.at(column, row)])
                continue;
            wanted[pixels.count] = column;
            X[pixels.count] = shown.grid.columnX[column];
            if (++pixels.count == kBatchPixels)
                flush();
        }
        if (pixels.count > 0)
            flush();
        // Each pixel of the pass stands for its block until a finer pass
        // replaces the block's other pixels. Without kept pixels a block holds
        // no exact pixel but its own corner, which the fill leaves as it is.
        if (step == 1)
            return;
        const int lastRow = std::min(row + step, height);
        for (int column = firstColumn; column < width; column += columnStep) {
            const std::uint32_t colour = shown.pixels[shown.at(column, row)];
            const int blockWidth = std::min(column + step, width) - column;
            for (int y = row; y < lastRow; ++y) {
                const std::size_t start = shown.at(column, y);
                if (!keptAny) {
                    std::fill_n(shown.pixels.begin() + start, blockWidth, colour);
                    continue;
                }
                for (std::size_t at = start; at < start + blockWidth; ++at)
                    if (!shown.exact[at])
                        shown.pixels[at] = colour;
            }
        }
    };

    // The rows changed since the last piece went out. A piece goes out at
    // most about once a screen refresh: the coarse picture at once, the exact
    // one at the end, and between them whatever has changed by then. Each
    // piece costs the window a copy and a repaint, taken from the cores that
    // compute.
    int changedFirst = height, changedEnd = 0;
    auto lastPiece = std::chrono::steady_clock::time_point{};
    bool anyPiece = false;
    for (int step = kCoarsestStep; step >= 1; step /= 2) {
        const int passRows = (height + step - 1) / step;
        const int groups = std::min(groupsOfPass(step), passRows);
        for (int group = 0; group < groups; ++group) {
            const int first = passRows * group / groups;
            const int last = passRows * (group + 1) / groups;
            const auto task = [&, first](std::size_t i) {
                computeRow(step, (first + int(i)) * step);
            };
            if (pool_) {
                pool_->start(static_cast<std::size_t>(last - first), task);
                pool_->wait();
            } else {
                for (int i = 0; i < last - first; ++i)
                    task(static_cast<std::size_t>(i));
            }
            if (superseded(request.generation))
                return;
            changedFirst = std::min(changedFirst, first * step);
            changedEnd = std::max(changedEnd, std::min(last * step, height));
            const bool complete = step == 1 && group + 1 == groups;
            const auto now = std::chrono::steady_clock::now();
            if (anyPiece && !complete && now - lastPiece < kPieceInterval)
                continue;
            auto rows = std::make_shared<ExploredRows>();
            rows->generation = request.generation;
            rows->width = width;
            rows->height = height;
            rows->firstRow = changedFirst;
            rows->pixels.assign(shown.pixels.begin() + shown.at(0, changedFirst),
                                shown.pixels.begin() + shown.at(0, changedEnd));
            rows->complete = complete;
            rows->computedPixels = computed.load();
            deliver_(std::move(rows));
            changedFirst = height;
            changedEnd = 0;
            lastPiece = now;
            anyPiece = true;
        }
    }
}

} // namespace spirell::drawing
