#pragma once

#include "base/WorkerPool.hpp"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace spirell::app {

// Work that runs on a thread of its own, never on the window's, and whose
// progress and end reach the window's thread as queued signals.
//
// Some work may wait on others for as long as they like: opening a FIFO waits
// for its reader, and writing to it waits for the reader to read. Such a task
// is let go when it is cancelled or destroyed while it may be waiting: it
// reports its end as cancelled at once, and its thread, which holds
// everything the work uses, ends on its own once the wait is over, or with
// the program. Any other task is waited for: cancelled, it stops within about
// one band of rows.
class BackgroundTask : public QObject {
    Q_OBJECT
public:
    struct Shared;

    // What the work sees on its thread.
    class Context {
    public:
        explicit Context(Shared& shared) : shared_(shared) {}
        // Set once the task is cancelled; renders stop when they see it.
        const std::atomic<bool>& cancelFlag() const;
        // Throws base::Cancelled once the task is cancelled.
        void stopIfCancelled() const;
        // Tells the window's thread how far the work has come.
        void reportProgress(quint64 done);

    private:
        Shared& shared_;
    };

    // Runs on the task's thread; whatever it throws ends the task: Cancelled
    // as cancelled, anything else as an error.
    using Work = std::function<void(Context&)>;
    // Whether the work may at this moment be waiting on others indefinitely;
    // asked on the window's thread while the work runs, so it must only read
    // what is safe to read from there.
    using WaitCheck = std::function<bool()>;

    // subject names the work in messages ("poster", "picture").
    BackgroundTask(QString subject, Work work, WaitCheck mayWaitForever = {});
    // Cancels the task and waits for its thread, unless it may be waiting on
    // others: then it is let go.
    ~BackgroundTask() override;

    // Starts the work on a thread of its own, through startThread if given;
    // once only. Throws nothing: when no thread can start, finished says so,
    // from the event loop.
    void start(const base::ThreadStarter& startThread = {});
    // Asks the work to stop; a task that may be waiting on others is let go
    // and finishes as cancelled at once.
    void cancel();

signals:
    void progressed(quint64 done);
    // error is empty when the work is complete; a cancelled task has none.
    // Emitted exactly once for a started task, always from the event loop.
    void finished(bool cancelled, const QString& error);

private:
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
    bool started_ = false;
};

// Lets go of a finished task, which is deleted once control is back in the
// event loop: its finished signal, whose slot calls this, is still under way
// and must not lose its sender. Every export ends its tasks this way. The
// task becomes a child of keeper, which deletes it should the event loop
// end first.
template <typename Task> void deleteFinishedTask(std::unique_ptr<Task>& task, QObject* keeper) {
    if (!task)
        return;
    Task* finished = task.release();
    finished->setParent(keeper);
    finished->deleteLater();
}

} // namespace spirell::app
