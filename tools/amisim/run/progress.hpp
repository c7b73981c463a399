#pragma once
// Progress on standard error for long runs: work done, rate and time left. On a terminal one
// line is rewritten in place; into a file or pipe whole lines are written now and then, so that
// a log reads cleanly. A closing line states what was done.
#include <chrono>
#include <cstdint>
#include <string>

namespace amisim {

class Progress {
  public:
    Progress(std::string label, std::uint64_t total, bool quiet, std::string unit = "bits");
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // `total` 0 keeps the total given before.
    void update(std::uint64_t done, std::uint64_t total = 0);
    void finish();
    double elapsedSeconds() const;

  private:
    using Clock = std::chrono::steady_clock;
    std::string label_, unit_;
    std::uint64_t total_, done_ = 0;
    bool quiet_;
    bool terminal_;
    bool inPlace_ = false;  // a line without its end is on the terminal
    bool finished_ = false;
    Clock::time_point start_, lastPrint_;
};

}  // namespace amisim
