#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace spirell::base {

// Starts a thread that runs body, or throws as std::thread's constructor does
// (std::system_error, std::bad_alloc). Tests give one that fails on purpose.
using ThreadStarter = std::function<std::thread(std::function<void()> body)>;

// Starts one thread of its own that runs body, through starter when one is
// given. A refusal by the system becomes a RenderFailure that says in words
// which thread could not start ("could not start the exploring render thread:
// Resource temporarily unavailable"); std::bad_alloc stays what it is.
std::thread startThread(std::function<void()> body, const std::string& role,
                        const ThreadStarter& starter = {});

// A fixed set of threads that run one batch of numbered tasks at a time. The
// caller starts a batch, is free to do other work meanwhile, then waits.
// Everything a batch uses must be declared before the pool, so that it
// outlives the pool's end, which waits for the batch under way.
class WorkerPool {
public:
    // Starts as many of the threads as the system allows, at least one, or
    // throws: RenderFailure ("could not start any computing thread: ...")
    // when the system refuses the first thread,
    // std::bad_alloc when memory runs out before it. Threads start through
    // startThread when one is given.
    explicit WorkerPool(unsigned threads, const ThreadStarter& startThread = {});
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // The threads that started.
    unsigned threadCount() const { return static_cast<unsigned>(threads_.size()); }

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
