#include "drawing/ColumnPipeline.hpp"

#include "base/Errors.hpp"
#include "lanes/LineColours.hpp"

#include <new>

namespace spirell::drawing {

namespace {

// Rows computed between two looks at whether the drawing is over.
constexpr std::size_t kRowsBetweenLooks = 256;

} // namespace

ColumnPipeline::ColumnPipeline(lanes::ColourBatch batch, const lanes::LevelRule& rule,
                               const LoopRange& columns, std::int64_t columnCount,
                               std::vector<double> rowY, unsigned threads,
                               const base::ThreadStarter& startThread)
    : batch_(batch), rule_(rule), rowY_(std::move(rowY)), cursor_(columns),
      columnCount_(columnCount) {
    // Enough columns ahead that no thread waits for the drawing to take one.
    slots_.resize(2 * std::size_t(threads) + 2);
    for (Slot& slot : slots_)
        slot.colours.resize(rowY_.size());
    if (threads < 2)
        return;
    // One long task per worker: each computes columns until the pipeline
    // stops. Without workers the caller computes every column itself.
    try {
        workers_.emplace(threads - 1, startThread);
        workers_->start(workers_->threadCount(), [this](std::size_t) { work(); });
    } catch (const base::RenderFailure&) {
        workers_.reset();
    } catch (const std::bad_alloc&) {
        workers_.reset();
    }
}

ColumnPipeline::~ColumnPipeline() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    workers_.reset(); // waits for the workers' tasks to return, then joins them
}

bool ColumnPipeline::canClaim() const {
    return !stopping_ && claimed_ < columnCount_ &&
           claimed_ < shown_ + static_cast<std::int64_t>(slots_.size());
}

ColumnPipeline::Slot* ColumnPipeline::claim(double& X) {
    std::int64_t number = 0;
    if (!cursor_.next(number, X)) {
        columnCount_ = claimed_; // the loop ended early
        return nullptr;
    }
    claimed_ = number;
    Slot& slot = slots_[static_cast<std::size_t>(number - 1) % slots_.size()];
    slot.number = number;
    slot.ready = false;
    return &slot;
}

void ColumnPipeline::compute(Slot& slot, double X) {
    lanes::LineColours column(
        batch_, rule_, lanes::Line::Column, X,
        [&](std::size_t row, formulas::Colour colour) { slot.colours[row] = colour; });
    for (std::size_t row = 0; row < rowY_.size(); ++row) {
        if (row % kRowsBetweenLooks == 0 && stopping_)
            return;
        column.add(rowY_[row], row);
    }
    column.flush();
}

void ColumnPipeline::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || canClaim(); });
        if (stopping_)
            return;
        double X = 0;
        Slot* slot = claim(X);
        if (!slot)
            continue;
        lock.unlock();
        compute(*slot, X);
        lock.lock();
        slot->ready = true;
        changed_.notify_all();
    }
}

const formulas::Colour* ColumnPipeline::column(std::int64_t number) {
    std::unique_lock lock(mutex_);
    shown_ = number - 1; // the column before is done with: its slot may be reused
    changed_.notify_all();
    Slot& wanted = slots_[static_cast<std::size_t>(number - 1) % slots_.size()];
    while (!(wanted.number == number && wanted.ready)) {
        // Rather than wait, compute the next column nobody has taken yet.
        double X = 0;
        if (canClaim()) {
            if (Slot* slot = claim(X)) {
                lock.unlock();
                compute(*slot, X);
                lock.lock();
                slot->ready = true;
                changed_.notify_all();
            }
            continue;
        }
        changed_.wait(lock);
    }
    return wanted.colours.data();
}

} // namespace spirell::drawing
