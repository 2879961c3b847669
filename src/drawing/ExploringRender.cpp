#include "drawing/ExploringRender.hpp"

#include "base/WorkerPool.hpp"
#include "drawing/DrawingFrame.hpp"
#include "lanes/LineColours.hpp"

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

// What a render made: its pixels, which of them are exact, and what they were
// computed with.
struct ExploredPicture {
    int formulaIndex = -1;
    double zoom = 0;
    double brightness = 0;
    ViewGrid grid;
    std::vector<std::uint32_t> pixels;
    std::vector<std::uint8_t> exact;
    bool anyKept = false; // exact pixels that no pass of this render computed

    // A picture of the view with no pixels yet.
    ExploredPicture(const formulas::Formula& formula, const ViewParams& view,
                    DrawingSurface::Size shown)
        : formulaIndex(formula.index), zoom(view.zoom), brightness(view.brightness),
          grid(viewGrid(view, shown)) {}

    int width() const { return grid.width(); }
    int height() const { return grid.height(); }
    std::size_t pixelCount() const { return grid.columnX.size() * grid.rowY.size(); }
    std::size_t at(int column, int row) const {
        return static_cast<std::size_t>(row) * grid.columnX.size() + column;
    }
    // Whether a pixel with the same world coordinates has the same colour here.
    bool computedLike(const formulas::Formula& formula, const ViewParams& view) const {
        return formulaIndex == formula.index &&
               std::bit_cast<std::uint64_t>(zoom) == std::bit_cast<std::uint64_t>(view.zoom) &&
               std::bit_cast<std::uint64_t>(brightness) ==
                   std::bit_cast<std::uint64_t>(view.brightness);
    }
};

namespace {

// A new picture of the view, black but for the exact pixels of before whose
// column and row have the very same world coordinates.
std::unique_ptr<ExploredPicture> keepingWhatMatches(const formulas::Formula& formula,
                                                    const ViewParams& view,
                                                    DrawingSurface::Size shown,
                                                    const ExploredPicture* before) {
    auto picture = std::make_unique<ExploredPicture>(formula, view, shown);
    picture->pixels.assign(picture->pixelCount(), 0xff000000u);
    picture->exact.assign(picture->pixelCount(), 0);
    if (!before || !before->computedLike(formula, view))
        return picture;
    const std::vector<int> columns = sameValues(picture->grid.columnX, before->grid.columnX);
    const std::vector<int> rows = sameValues(picture->grid.rowY, before->grid.rowY);
    for (int row = 0; row < picture->height(); ++row) {
        if (rows[row] < 0)
            continue;
        for (int column = 0; column < picture->width(); ++column) {
            if (columns[column] < 0)
                continue;
            const std::size_t from = before->at(columns[column], rows[row]);
            if (before->exact[from]) {
                picture->pixels[picture->at(column, row)] = before->pixels[from];
                picture->exact[picture->at(column, row)] = 1;
                picture->anyKept = true;
            }
        }
    }
    return picture;
}

// The pixels of a pass in a row: every step-th column, or, in the rows a
// coarser pass visited, only those it did not.
struct PassColumns {
    int first = 0;
    int step = 1;
};
PassColumns passColumns(int step, int row) {
    const bool visitedBefore = step < kCoarsestStep && row % (2 * step) == 0;
    return visitedBefore ? PassColumns{step, 2 * step} : PassColumns{0, step};
}

// Computes the pixels of the pass in the row that are not exact yet.
void computePassRow(ExploredPicture& picture, lanes::ColourBatch batch,
                    const lanes::LevelRule& rule, int step, int row,
                    std::atomic<std::uint64_t>& computed) {
    const PassColumns pass = passColumns(step, row);
    lanes::LineColours pixels(batch, rule, lanes::Line::Row, picture.grid.rowY[row],
                              [&](std::size_t at, formulas::Colour colour) {
                                  picture.pixels[at] = packed(colour);
                                  picture.exact[at] = 1;
                              });
    std::uint64_t count = 0;
    for (int column = pass.first; column < picture.width(); column += pass.step) {
        const std::size_t at = picture.at(column, row);
        if (picture.exact[at])
            continue;
        pixels.add(picture.grid.columnX[column], at);
        ++count;
    }
    pixels.flush();
    computed += count;
}

// Each pixel of a coarse pass stands for its block until a finer pass
// replaces the block's other pixels. Without kept pixels a block holds no
// exact pixel but its own corner, which the fill leaves as it is.
void fillBlocks(ExploredPicture& picture, int step, int row) {
    const PassColumns pass = passColumns(step, row);
    const int lastRow = std::min(row + step, picture.height());
    for (int column = pass.first; column < picture.width(); column += pass.step) {
        const std::uint32_t colour = picture.pixels[picture.at(column, row)];
        const int blockWidth = std::min(column + step, picture.width()) - column;
        for (int y = row; y < lastRow; ++y) {
            const std::size_t start = picture.at(column, y);
            if (!picture.anyKept) {
                std::fill_n(picture.pixels.begin() + start, blockWidth, colour);
                continue;
            }
            for (std::size_t at = start; at < start + blockWidth; ++at)
                if (!picture.exact[at])
                    picture.pixels[at] = colour;
        }
    }
}

// Sends the rows changed since the last piece went out, at most about once a
// screen refresh: the coarse picture at once, the exact one at the end, and
// between them whatever has changed by then. Each piece costs the window a
// copy and a repaint, taken from the cores that compute.
class PieceSender {
public:
    PieceSender(const ExploredPicture& picture, std::uint64_t generation,
                const ExploringRender::Delivery& deliver)
        : picture_(picture), generation_(generation), deliver_(deliver),
          changedFirst_(picture.height()) {}

    void changed(int firstRow, int endRow) {
        changedFirst_ = std::min(changedFirst_, firstRow);
        changedEnd_ = std::max(changedEnd_, endRow);
    }

    void sendIfDue(bool complete, std::uint64_t computed) {
        const auto now = std::chrono::steady_clock::now();
        if (anySent_ && !complete && now - lastSent_ < kPieceInterval)
            return;
        auto rows = std::make_shared<ExploredRows>();
        rows->generation = generation_;
        rows->width = picture_.width();
        rows->height = picture_.height();
        rows->firstRow = changedFirst_;
        rows->pixels.assign(picture_.pixels.begin() + picture_.at(0, changedFirst_),
                            picture_.pixels.begin() + picture_.at(0, changedEnd_));
        rows->complete = complete;
        rows->computedPixels = computed;
        deliver_(std::move(rows));
        changedFirst_ = picture_.height();
        changedEnd_ = 0;
        lastSent_ = now;
        anySent_ = true;
    }

private:
    const ExploredPicture& picture_;
    std::uint64_t generation_;
    const ExploringRender::Delivery& deliver_;
    int changedFirst_;
    int changedEnd_ = 0;
    std::chrono::steady_clock::time_point lastSent_;
    bool anySent_ = false;
};

} // namespace

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
    auto picture = std::make_unique<ExploredPicture>(*adopted.formula, adopted.view, adopted.shown);
    if (adopted.pixels.size() != picture->pixelCount())
        return; // not a picture of the view: keep nothing of it
    picture->pixels = std::move(adopted.pixels);
    picture->exact.assign(picture->pixelCount(), 1);
    picture_ = std::move(picture);
}

void ExploringRender::render(const Request& request) {
    const formulas::Formula& formula = *request.formula;
    picture_ = keepingWhatMatches(formula, request.view, request.shown, picture_.get());
    ExploredPicture& picture = *picture_;
    if (picture.pixelCount() == 0 || superseded(request.generation))
        return;
    const lanes::ColourBatch batch = lanes::colourBatchFor(computing_.kernels(), formula);
    const lanes::LevelRule rule = levelRule(formula, request.view);
    std::atomic<std::uint64_t> computed{0};
    PieceSender pieces(picture, request.generation, deliver_);
    const int height = picture.height();
    for (int step = kCoarsestStep; step >= 1; step /= 2) {
        const int passRows = (height + step - 1) / step;
        const int groups = std::min(groupsOfPass(step), passRows);
        for (int group = 0; group < groups; ++group) {
            const int first = passRows * group / groups;
            const int last = passRows * (group + 1) / groups;
            onComputingThreads(last - first, [&, first](int i) {
                const int row = (first + i) * step;
                if (superseded(request.generation))
                    return;
                computePassRow(picture, batch, rule, step, row, computed);
                if (step > 1)
                    fillBlocks(picture, step, row);
            });
            if (superseded(request.generation))
                return;
            pieces.changed(first * step, std::min(last * step, height));
            pieces.sendIfDue(step == 1 && group + 1 == groups, computed.load());
        }
    }
}

void ExploringRender::onComputingThreads(int count, const std::function<void(int)>& task) {
    if (!pool_) {
        for (int i = 0; i < count; ++i)
            task(i);
        return;
    }
    pool_->start(static_cast<std::size_t>(count),
                 [&](std::size_t i) { task(static_cast<int>(i)); });
    pool_->wait();
}

} // namespace spirell::drawing
