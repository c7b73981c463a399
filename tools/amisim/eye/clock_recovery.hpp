#pragma once
// What the receiver's clock times say about its clock recovery: the recovered period against
// the bit time, when it settled, and the period over the run.
#include <cstdint>
#include <optional>
#include <vector>

namespace amisim {

struct ClockRecoveryResult {
    std::uint64_t clockTimes = 0;
    double meanPeriod = 0;  // seconds, after lock (over the whole run when it never locked)
    double ppm = 0;         // (meanPeriod - bit time) / bit time, parts per million
    double overallMeanPeriod = 0;
    // Lock: the first clock time after which the recovered period, averaged over windows of
    // `window` bits and then taken as the median of 5 neighbouring windows (so that a single
    // excursion of a window or two cannot move it), stays within the band around its final
    // mean (the mean over the last quarter of the windows). The band is the larger of 4
    // standard deviations of the window averages over that last quarter and 100 ppm of the
    // final mean. A loop that first stays in the band within that last quarter, or whose band
    // exceeds 2000 ppm, never settled: lockBit stays empty.
    // When the receiver reports its own lock detector's verdict, lockBit is that instead
    // (lockFromReceiver).
    std::optional<std::uint64_t> lockBit;  // index of that clock time (decided bits since start)
    bool lockFromReceiver = false;
    double lockTime = 0;  // seconds from the first clock time
    double bandPpm = 0;
    int window = 0;
    std::vector<double> windowBit;     // centre of each window, in clock times from the first
    std::vector<double> windowPeriod;  // mean period over each window, seconds
};

class ClockRecoveryStats {
  public:
    explicit ClockRecoveryStats(double bitTime, int window = 32);
    void add(const std::vector<double>& clockTimes);
    ClockRecoveryResult finish() const;

  private:
    double bitTime_;
    int window_;
    std::uint64_t count_ = 0;
    double first_ = 0, last_ = 0;
    double windowStart_ = 0;  // time of the clock time that opened the current window
    std::vector<double> windowStarts_, windowMeans_;
};

}  // namespace amisim
