#include "amisim/run/ordered_worker.hpp"

#include <utility>

namespace amisim {

OrderedWorker::OrderedWorker(bool threaded) : threaded_(threaded) {
    if (threaded_) thread_ = std::thread([this] { run(); });
}

OrderedWorker::~OrderedWorker() {
    if (!threaded_) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        tasks_.clear();
    }
    queued_.notify_one();
    thread_.join();
}

std::uint64_t OrderedWorker::submit(std::function<void()> task) {
    if (!threaded_) {
        if (failure_) std::rethrow_exception(failure_);
        try {
            task();
        } catch (...) {
            failure_ = std::current_exception();
            throw;
        }
        completed_ = ++submitted_;
        return submitted_;
    }
    std::uint64_t ticket = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (failure_) std::rethrow_exception(failure_);
        tasks_.push_back(std::move(task));
        ticket = ++submitted_;
    }
    queued_.notify_one();
    return ticket;
}

void OrderedWorker::waitFor(std::uint64_t ticket) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return failure_ || completed_ >= ticket; });
    if (failure_) std::rethrow_exception(failure_);
}

void OrderedWorker::finish() {
    std::uint64_t last = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        last = submitted_;
    }
    waitFor(last);
}

void OrderedWorker::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        queued_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
        if (stopping_) return;
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        std::exception_ptr failed;
        try {
            task();
        } catch (...) {
            failed = std::current_exception();
        }
        lock.lock();
        if (failed) {
            // later tasks build on this one's results: none of them runs
            failure_ = failed;
            tasks_.clear();
        } else {
            ++completed_;
        }
        done_.notify_all();
    }
}

}  // namespace amisim
