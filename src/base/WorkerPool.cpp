#include "base/WorkerPool.hpp"

#include "base/Errors.hpp"

#include <new>
#include <string>
#include <system_error>
#include <utility>

namespace spirell::base {

WorkerPool::WorkerPool(unsigned threads, const ThreadStarter& startThread) {
    // Reserved first, so that keeping a started thread cannot fail.
    threads_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) {
        // Under a memory or process limit a thread may fail to start. Fewer
        // threads only take longer; the ones already running are kept, as
        // leaving the constructor with them would end the program.
        try {
            if (startThread)
                threads_.push_back(startThread([this] { work(); }));
            else
                threads_.emplace_back([this] { work(); });
        } catch (const std::system_error& error) {
            if (threads_.empty())
                throw RenderFailure(std::string("could not start any computing thread: ") +
                                    error.code().message());
            break;
        } catch (const std::bad_alloc&) {
            if (threads_.empty())
                throw;
            break;
        }
    }
}

WorkerPool::~WorkerPool() {
    {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return busy_ == 0; });
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_)
        thread.join();
}

std::thread startThread(std::function<void()> body, const std::string& role,
                        const ThreadStarter& starter) {
    try {
        return starter ? starter(std::move(body)) : std::thread(std::move(body));
    } catch (const std::system_error& error) {
        throw RenderFailure(std::string("could not start the ") + role +
                            " thread: " + error.code().message());
    }
}

void WorkerPool::start(std::size_t count, std::function<void(std::size_t)> task) {
    {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return busy_ == 0; }); // one batch at a time
        task_ = std::move(task);
        count_ = count;
        next_ = 0;
        busy_ = static_cast<unsigned>(threads_.size());
        ++batch_;
    }
    wake_.notify_all();
}

void WorkerPool::wait() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return busy_ == 0; });
    if (failure_)
        std::rethrow_exception(std::exchange(failure_, nullptr));
}

void WorkerPool::work() {
    std::uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || batch_ != seen; });
            if (stopping_)
                return;
            seen = batch_;
        }
        // Tasks are handed out one at a time: rows differ in cost, and one row
        // is far more work than taking a number.
        for (std::size_t i = next_++; i < count_; i = next_++) {
            try {
                task_(i);
            } catch (...) {
                std::lock_guard lock(mutex_);
                if (!failure_)
                    failure_ = std::current_exception();
                next_ = count_;
            }
        }
        std::lock_guard lock(mutex_);
        if (--busy_ == 0)
            done_.notify_all();
    }
}

} // namespace spirell::base
