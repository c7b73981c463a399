#include "amisim/run/progress.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace amisim {

namespace {
constexpr double kTerminalInterval = 0.5;  // seconds between rewrites of the line
constexpr double kLogInterval = 10.0;      // seconds between lines into a file
}  // namespace

Progress::Progress(std::string label, std::uint64_t total, bool quiet, std::string unit)
    : label_(std::move(label)),
      unit_(std::move(unit)),
      total_(total),
      quiet_(quiet),
      terminal_(isatty(STDERR_FILENO) == 1),
      start_(Clock::now()),
      lastPrint_(start_) {}

Progress::~Progress() { finish(); }

double Progress::elapsedSeconds() const {
    return std::chrono::duration<double>(Clock::now() - start_).count();
}

void Progress::update(std::uint64_t done, std::uint64_t total) {
    done_ = done;
    if (total > 0) total_ = total;
    if (quiet_ || finished_) return;
    const auto now = Clock::now();
    const double since = std::chrono::duration<double>(now - lastPrint_).count();
    if (since < (terminal_ ? kTerminalInterval : kLogInterval)) return;
    lastPrint_ = now;
    const double t = elapsedSeconds();
    const double rate = t > 0 ? static_cast<double>(done) / t : 0.0;
    const double left =
        rate > 0 ? static_cast<double>(total_ - std::min(done, total_)) / rate : 0.0;
    std::fprintf(stderr, "%s%s: %llu/%llu %s, %.0f %s/s, %.1f s left%s", terminal_ ? "\r" : "",
                 label_.c_str(), static_cast<unsigned long long>(done),
                 static_cast<unsigned long long>(total_), unit_.c_str(), rate, unit_.c_str(), left,
                 terminal_ ? "   " : "\n");
    std::fflush(stderr);
    inPlace_ = terminal_;
}

void Progress::finish() {
    if (finished_) return;
    finished_ = true;
    if (quiet_) return;
    std::fprintf(stderr, "%s%s: %llu %s in %.1f s%s\n", inPlace_ ? "\r" : "", label_.c_str(),
                 static_cast<unsigned long long>(done_), unit_.c_str(), elapsedSeconds(),
                 inPlace_ ? "                              " : "");
    std::fflush(stderr);
}

}  // namespace amisim
