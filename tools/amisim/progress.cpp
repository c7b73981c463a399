#include "amisim/progress.hpp"

#include <algorithm>
#include <cstdio>

namespace amisim {

Progress::Progress(std::string label, std::uint64_t total, bool quiet)
    : label_(std::move(label)),
      total_(total),
      quiet_(quiet),
      start_(Clock::now()),
      lastPrint_(start_) {}

Progress::~Progress() { finish(); }

double Progress::elapsedSeconds() const {
    return std::chrono::duration<double>(Clock::now() - start_).count();
}

void Progress::update(std::uint64_t done) {
    if (quiet_) return;
    const auto now = Clock::now();
    if (std::chrono::duration<double>(now - lastPrint_).count() < 0.5) return;
    lastPrint_ = now;
    const double t = elapsedSeconds();
    const double rate = t > 0 ? static_cast<double>(done) / t : 0.0;
    const double left =
        rate > 0 ? static_cast<double>(total_ - std::min(done, total_)) / rate : 0.0;
    std::fprintf(stderr, "\r%s: %llu/%llu bits, %.0f bit/s, %.1f s left   ", label_.c_str(),
                 static_cast<unsigned long long>(done), static_cast<unsigned long long>(total_),
                 rate, left);
    std::fflush(stderr);
    printed_ = true;
}

void Progress::finish() {
    if (finished_) return;
    finished_ = true;
    if (printed_) std::fprintf(stderr, "\n");
}

}  // namespace amisim
