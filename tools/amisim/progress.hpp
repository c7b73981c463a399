#pragma once
// Progress line on standard error for long runs: bits done, bits per second, time left.
#include <chrono>
#include <cstdint>
#include <string>

namespace amisim {

class Progress {
  public:
    Progress(std::string label, std::uint64_t total, bool quiet);
    ~Progress();
    void update(std::uint64_t done);
    void finish();
    double elapsedSeconds() const;

  private:
    using Clock = std::chrono::steady_clock;
    std::string label_;
    std::uint64_t total_;
    bool quiet_;
    bool printed_ = false;
    bool finished_ = false;
    Clock::time_point start_, lastPrint_;
};

}  // namespace amisim
