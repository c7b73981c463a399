#pragma once
// A second thread for the time-domain loop: tasks run one at a time in the order they were
// handed over, so that each object a task touches sees the same calls in the same order as in
// a serial loop and its results are the same to the bit. Without the thread (`threaded`
// false) every task runs at once inside submit(), which is that serial loop.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace amisim {

class OrderedWorker {
  public:
    explicit OrderedWorker(bool threaded);
    // Drops the tasks not yet started and joins the thread: a failure of the caller's own work
    // ends the loop without waiting for the rest.
    ~OrderedWorker();
    OrderedWorker(const OrderedWorker&) = delete;
    OrderedWorker& operator=(const OrderedWorker&) = delete;

    // Queues `task` after every task submitted before it; returns its ticket for waitFor().
    std::uint64_t submit(std::function<void()> task);
    // Returns once the task of `ticket` (and so every earlier one) has run; rethrows the first
    // exception a task threw, after which no further task runs.
    void waitFor(std::uint64_t ticket);
    // Waits for every task submitted so far.
    void finish();

  private:
    void run();

    bool threaded_;
    std::mutex mutex_;
    std::condition_variable queued_, done_;
    std::deque<std::function<void()>> tasks_;
    std::uint64_t submitted_ = 0, completed_ = 0;
    bool stopping_ = false;
    std::exception_ptr failure_;
    std::thread thread_;
};

}  // namespace amisim
