#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace spirell::base {

// A fixed set of threads that run one batch of numbered tasks at a time. The
// caller starts a batch, is free to do other work meanwhile, then waits.
class WorkerPool {
public:
    // Starts as many of the threads as the system allows, at least one, or
    // throws RenderFailure.
    explicit WorkerPool(unsigned threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Runs task(0) .. task(count - 1) on the workers and returns at once, once
    // the batch before has finished. What the task uses must stay valid until
    // wait() returns.
    void start(std::size_t count, std::function<void(std::size_t)> task);

    // Waits for the batch started last. Rethrows the first exception a task
    // threw; the tasks not yet begun by then are skipped.
    void wait();

private:
    void work();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::function<void(std::size_t)> task_;
    std::size_t count_ = 0;
    std::atomic<std::size_t> next_{0};
    std::uint64_t batch_ = 0;
    unsigned busy_ = 0;
    bool stopping_ = false;
    std::exception_ptr failure_;
    std::vector<std::thread> threads_;
};

} // namespace spirell::base
