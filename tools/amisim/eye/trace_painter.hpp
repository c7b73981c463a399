#pragma once
// Draws the time-domain eye's traces on a thread of its own, so that the picture of a long run
// does not hold up the eye's sampling. Each trace arrives with a copy of the samples it crosses;
// the thread adds it into a picture of its own per sampler, and the owner adds those pictures
// into its own at the end (the pictures count traces per pixel, so the sum is the same whatever
// thread drew what).
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace amisim {

class TracePainter {
  public:
    // Draws a trace around `instant` into `picture` from `samples`, sample 0 of which is the
    // run's sample `base`.
    using Draw = std::function<void(std::uint32_t* picture, const double* samples, double base,
                                    double instant)>;
    static constexpr std::size_t kSamplers = 2;

    TracePainter(std::size_t pictureSize, Draw draw);
    ~TracePainter();
    TracePainter(const TracePainter&) = delete;
    TracePainter& operator=(const TracePainter&) = delete;

    // Queues a trace of sampler `sampler` (< kSamplers), copying samples[0 .. count).
    void add(std::size_t sampler, double instant, double base, const double* samples,
             std::size_t count);
    // Hands the queued traces to the thread.
    void flush();
    // Waits until every trace is drawn and adds sampler k's picture into pictures[k] (sized as
    // the painter's, or empty: then it is made). Rethrows what stopped the thread.
    void finishInto(std::vector<std::uint32_t>* pictures[kSamplers]);

  private:
    struct Trace {
        std::size_t sampler;
        double instant, base;
        std::size_t offset;
    };
    struct Batch {
        std::vector<double> samples;
        std::vector<Trace> traces;
    };
    void run();

    std::size_t pictureSize_;
    Draw draw_;
    Batch pending_;  // filled by the owner's thread
    std::vector<std::uint32_t> pictures_[kSamplers];
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Batch> queue_;
    bool stopping_ = false, idle_ = true;
    std::exception_ptr failure_;
    std::thread thread_;
};

}  // namespace amisim
