#pragma once

#include "base/WorkerPool.hpp"
#include "drawing/DrawingFrame.hpp"
#include "lanes/Batch.hpp"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace spirell::drawing {

// Computes the first columns of a drawing's column loop in order, each for the
// same rows, a few columns ahead of the one the drawing shows. threads - 1
// worker threads compute ahead; the caller computes too while it waits for a
// column. Columns computed ahead that are never asked for are thrown away, and
// the workers end with the pipeline. Workers that cannot start leave their
// share to the others, and to the caller alone when none starts.
class ColumnPipeline {
public:
    // The workers start through startThread when one is given.
    ColumnPipeline(lanes::ColourBatch batch, const lanes::LevelRule& rule, const LoopRange& columns,
                   std::int64_t columnCount, std::vector<double> rowY, unsigned threads,
                   const base::ThreadStarter& startThread = {});
    ~ColumnPipeline();
    ColumnPipeline(const ColumnPipeline&) = delete;
    ColumnPipeline& operator=(const ColumnPipeline&) = delete;

    // The colours of column number (from 1, one after the other), one per row.
    // They stay valid until the next call.
    const formulas::Colour* column(std::int64_t number);

    // The worker threads that started.
    unsigned workerCount() const { return workers_ ? workers_->threadCount() : 0; }

private:
    struct Slot {
        std::int64_t number = 0;
        bool ready = false;
        std::vector<formulas::Colour> colours;
    };

    bool canClaim() const;
    // Takes the next column to compute; called with the lock held.
    Slot* claim(double& X);
    void compute(Slot& slot, double X);
    void work();

    const lanes::ColourBatch batch_;
    const lanes::LevelRule rule_;
    const std::vector<double> rowY_;
    LoopCursor cursor_;
    std::int64_t columnCount_;
    std::int64_t claimed_ = 0; // the last column taken to compute
    std::int64_t shown_ = 0;   // the last column the caller is done with
    std::vector<Slot> slots_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<bool> stopping_{false};
    // Last, so that everything the workers use outlives them.
    std::optional<base::WorkerPool> workers_;
};

} // namespace spirell::drawing
