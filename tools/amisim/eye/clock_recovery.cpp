#include "amisim/eye/clock_recovery.hpp"

#include <algorithm>
#include <cmath>

namespace amisim {

namespace {
constexpr double kMinBandPpm = 100.0;
constexpr double kBandSigmas = 4.0;
constexpr double kMaxBandPpm = 2000.0;
}  // namespace

ClockRecoveryStats::ClockRecoveryStats(double bitTime, int window)
    : bitTime_(bitTime), window_(std::max(1, window)) {}

void ClockRecoveryStats::add(const std::vector<double>& clockTimes) {
    for (double t : clockTimes) {
        if (count_ == 0) {
            first_ = t;
            windowStart_ = t;
        }
        last_ = t;
        ++count_;
        // a window closes after `window_` periods, i.e. at clock times 1 + k * window_
        if (count_ > 1 && (count_ - 1) % static_cast<std::uint64_t>(window_) == 0) {
            windowStarts_.push_back(windowStart_);
            windowMeans_.push_back((t - windowStart_) / window_);
            windowStart_ = t;
        }
    }
}

ClockRecoveryResult ClockRecoveryStats::finish() const {
    ClockRecoveryResult r;
    r.clockTimes = count_;
    r.window = window_;
    if (count_ < 2) return r;
    r.overallMeanPeriod = (last_ - first_) / static_cast<double>(count_ - 1);
    r.meanPeriod = r.overallMeanPeriod;
    const std::size_t m = windowMeans_.size();
    for (std::size_t i = 0; i < m; ++i) {
        r.windowBit.push_back((static_cast<double>(i) + 0.5) * window_);
        r.windowPeriod.push_back(windowMeans_[i]);
    }
    if (m >= 4) {
        const std::size_t tail = std::max<std::size_t>(1, m / 4);
        double mean = 0, var = 0;
        for (std::size_t i = m - tail; i < m; ++i) mean += windowMeans_[i];
        mean /= static_cast<double>(tail);
        for (std::size_t i = m - tail; i < m; ++i) var += std::pow(windowMeans_[i] - mean, 2);
        var /= static_cast<double>(tail);
        const double band = std::max(kBandSigmas * std::sqrt(var), kMinBandPpm * 1e-6 * mean);
        r.bandPpm = band / mean * 1e6;
        // the median of 5 neighbouring windows: a spike of one or two windows is not a
        // loss of lock
        std::vector<double> smooth(m);
        for (std::size_t i = 0; i < m; ++i) {
            const std::size_t from = i >= 2 ? i - 2 : 0, to = std::min(m, i + 3);
            std::vector<double> v(windowMeans_.begin() + static_cast<long>(from),
                                  windowMeans_.begin() + static_cast<long>(to));
            std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
            smooth[i] = v[v.size() / 2];
        }
        std::size_t lockWindow = 0;
        for (std::size_t i = 0; i < m; ++i)
            if (std::abs(smooth[i] - mean) > band) lockWindow = i + 1;
        if (lockWindow < m - tail && r.bandPpm <= kMaxBandPpm) {
            r.lockBit =
                static_cast<std::uint64_t>(lockWindow) * static_cast<std::uint64_t>(window_);
            r.lockTime = windowStarts_[lockWindow] - first_;
            const double lockedSpan = last_ - windowStarts_[lockWindow];
            const double lockedPeriods = static_cast<double>(count_ - 1 - *r.lockBit);
            if (lockedPeriods > 0) r.meanPeriod = lockedSpan / lockedPeriods;
        }
    }
    r.ppm = (r.meanPeriod - bitTime_) / bitTime_ * 1e6;
    return r;
}

}  // namespace amisim
