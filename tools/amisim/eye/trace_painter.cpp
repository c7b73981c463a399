#include "amisim/eye/trace_painter.hpp"

#include <utility>

namespace amisim {

TracePainter::TracePainter(std::size_t pictureSize, Draw draw)
    : pictureSize_(pictureSize), draw_(std::move(draw)), thread_([this] { run(); }) {}

TracePainter::~TracePainter() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void TracePainter::add(std::size_t sampler, double instant, double base, const double* samples,
                       std::size_t count) {
    pending_.traces.push_back({sampler, instant, base, pending_.samples.size()});
    pending_.samples.insert(pending_.samples.end(), samples, samples + count);
}

void TracePainter::flush() {
    if (pending_.traces.empty()) return;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(pending_));
    }
    pending_ = Batch{};
    wake_.notify_all();
}

void TracePainter::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;  // stopping, nothing left
        Batch batch = std::move(queue_.front());
        queue_.pop_front();
        idle_ = false;
        lock.unlock();
        try {
            if (!failure_) {
                for (const Trace& t : batch.traces) {
                    std::vector<std::uint32_t>& picture = pictures_[t.sampler];
                    if (picture.empty()) picture.assign(pictureSize_, 0);
                    draw_(picture.data(), batch.samples.data() + t.offset, t.base, t.instant);
                }
            }
        } catch (...) {
            failure_ = std::current_exception();
        }
        lock.lock();
        idle_ = queue_.empty();
        wake_.notify_all();
    }
}

void TracePainter::finishInto(std::vector<std::uint32_t>* pictures[kSamplers]) {
    flush();
    {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return queue_.empty() && idle_; });
    }
    if (failure_) std::rethrow_exception(failure_);
    for (std::size_t k = 0; k < kSamplers; ++k) {
        if (pictures_[k].empty()) continue;
        std::vector<std::uint32_t>& into = *pictures[k];
        if (into.empty()) into.assign(pictureSize_, 0);
        // unsigned sums wrap as the owner's own counts do
        for (std::size_t i = 0; i < pictureSize_; ++i) into[i] += pictures_[k][i];
        pictures_[k].clear();
    }
}

}  // namespace amisim
