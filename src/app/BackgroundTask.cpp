#include "app/BackgroundTask.hpp"

#include "base/Errors.hpp"

#include <QMetaObject>

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>

namespace spirell::app {

// Everything the task's thread uses. The thread holds it too, so that a task
// let go can be destroyed while its thread still waits.
struct BackgroundTask::Shared {
    QString subject;
    Work work;
    WaitCheck mayWaitForever;
    std::atomic<bool> cancelled{false};

    std::mutex mutex;
    std::condition_variable ended;
    // Who hears progress and the end; null once the task is destroyed or let
    // go. Events are posted to it only under the mutex, which its destructor
    // takes before it is gone.
    BackgroundTask* listener = nullptr;
    bool done = false;

    bool mayWait() const { return mayWaitForever && mayWaitForever(); }

    // Must be called under the mutex.
    void postFinished(bool cancelledByUser, const QString& error) {
        if (!listener)
            return;
        QMetaObject::invokeMethod(
            listener,
            [task = listener, cancelledByUser, error] {
                emit task->finished(cancelledByUser, error);
            },
            Qt::QueuedConnection);
        listener = nullptr;
    }
};

namespace {

using namespace std::chrono_literals;

// How often a destructor that waits asks again whether the work may wait
// forever: a path can turn into a FIFO while it is being opened.
constexpr auto kWaitCheckInterval = 100ms;

void runWork(BackgroundTask::Shared& shared) {
    bool cancelled = false;
    QString error;
    try {
        BackgroundTask::Context context(shared);
        shared.work(context);
    } catch (const base::Cancelled&) {
        cancelled = true;
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    } catch (const std::exception& failure) {
        error = QString::fromStdString(failure.what());
    } catch (...) {
        error = QString("the %1 failed for an unknown reason").arg(shared.subject);
    }
    // What the work holds (a plan, a file's texts) goes with the work, not
    // with the last owner of the shared state.
    shared.work = nullptr;
    std::lock_guard lock(shared.mutex);
    shared.done = true;
    shared.postFinished(cancelled, error);
    shared.ended.notify_all();
}

} // namespace

const std::atomic<bool>& BackgroundTask::Context::cancelFlag() const {
    return shared_.cancelled;
}

void BackgroundTask::Context::stopIfCancelled() const {
    if (shared_.cancelled)
        throw base::Cancelled();
}

void BackgroundTask::Context::reportProgress(quint64 done) {
    std::lock_guard lock(shared_.mutex);
    if (BackgroundTask* task = shared_.listener)
        QMetaObject::invokeMethod(
            task, [task, done] { emit task->progressed(done); }, Qt::QueuedConnection);
}

BackgroundTask::BackgroundTask(QString subject, Work work, WaitCheck mayWaitForever)
    : shared_(std::make_shared<Shared>()) {
    shared_->subject = std::move(subject);
    shared_->work = std::move(work);
    shared_->mayWaitForever = std::move(mayWaitForever);
    shared_->listener = this;
}

BackgroundTask::~BackgroundTask() {
    shared_->cancelled = true;
    bool letGo = false;
    {
        std::unique_lock lock(shared_->mutex);
        shared_->listener = nullptr;
        if (thread_.joinable())
            while (!shared_->done && !(letGo = shared_->mayWait()))
                shared_->ended.wait_for(lock, kWaitCheckInterval);
    }
    if (!thread_.joinable())
        return;
    if (letGo)
        // The work waits on another program (a FIFO's reader), perhaps for
        // ever, and the window must not: the thread keeps what it uses and
        // ends with that wait or with the program.
        thread_.detach();
    else
        thread_.join();
}

void BackgroundTask::start(const base::ThreadStarter& startThread) {
    if (started_)
        return;
    started_ = true;
    const QString role = shared_->subject + "'s";
    QString error;
    try {
        thread_ = base::startThread([shared = shared_] { runWork(*shared); }, role.toStdString(),
                                    startThread);
        return;
    } catch (const base::RenderFailure& failure) {
        error = QString::fromStdString(failure.what()); // names the thread already
    } catch (const std::bad_alloc&) {
        error = QString("could not start the %1 thread: out of memory").arg(role);
    } catch (const std::exception& failure) {
        error = QString("could not start the %1 thread: %2").arg(role, failure.what());
    }
    // Reported from the event loop, as a failing thread would be: whoever
    // hears finished may destroy the task, which must not happen in here.
    std::lock_guard lock(shared_->mutex);
    shared_->done = true;
    shared_->postFinished(false, error);
}

void BackgroundTask::cancel() {
    shared_->cancelled = true;
    std::unique_lock lock(shared_->mutex);
    if (!thread_.joinable() || shared_->done || !shared_->mayWait())
        return;
    shared_->postFinished(true, {});
    lock.unlock();
    // Let go for the reason the destructor lets it go: the wait may never end.
    thread_.detach();
}

} // namespace spirell::app
