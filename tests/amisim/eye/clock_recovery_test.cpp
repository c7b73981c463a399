// The recovered clock's figures from its clock times: period, ppm error and lock.
#include "amisim/eye/clock_recovery.hpp"

#include <gtest/gtest.h>

using namespace amisim;

namespace {
constexpr double kBit = 100e-12;

// Clock times 1 % slow for `settle` bits, then `ppm` off the bit time, fed in blocks.
ClockRecoveryResult run(std::size_t settle, double ppm, std::size_t total) {
    ClockRecoveryStats stats(kBit);
    std::vector<double> block;
    double t = 0;
    for (std::size_t i = 0; i < total; ++i) {
        block.push_back(t);
        t += kBit * (i < settle ? 1.01 : 1 + ppm * 1e-6);
        if (block.size() == 777) {
            stats.add(block);
            block.clear();
        }
    }
    stats.add(block);
    return stats.finish();
}
}  // namespace

TEST(ClockRecovery, PeriodPpmAndLockOfASettlingClock) {
    const ClockRecoveryResult r = run(1000, 250, 20000);
    EXPECT_EQ(r.clockTimes, 20000u);
    EXPECT_NEAR(r.meanPeriod, kBit * (1 + 250e-6), 1e-19);
    EXPECT_NEAR(r.ppm, 250, 0.01);
    ASSERT_TRUE(r.lockBit.has_value());
    // locked at the first window wholly after the 1000 slow periods (windows of 32)
    EXPECT_EQ(*r.lockBit, 1024u);
    EXPECT_NEAR(r.lockTime, 1000 * kBit * 1.01 + 24 * kBit * (1 + 250e-6), 1e-15);
    EXPECT_NEAR(r.bandPpm, 100, 1e-6);  // the clean period has no spread: the least band
    // over the whole run the settling shows in the mean
    EXPECT_GT(r.overallMeanPeriod, r.meanPeriod);
    ASSERT_FALSE(r.windowPeriod.empty());
    EXPECT_NEAR(r.windowPeriod.front(), 1.01 * kBit, 1e-18);
}

TEST(ClockRecovery, ClockAtTheBitTimeFromTheStartAndTooFewTimes) {
    const ClockRecoveryResult r = run(0, 0, 5000);
    EXPECT_EQ(*r.lockBit, 0u);
    EXPECT_NEAR(r.ppm, 0, 1e-6);
    const ClockRecoveryResult one = run(0, 0, 1);
    EXPECT_EQ(one.clockTimes, 1u);
    EXPECT_FALSE(one.lockBit.has_value());
    EXPECT_EQ(one.meanPeriod, 0.0);
}

namespace {
// Clock times at the bit time after `settle` periods 1 % slow, with the periods in
// [spikeFrom, spikeFrom + spikeLength) `spikePpm` off, and the rest `wander` ppm off growing
// linearly over the run (a loop that never settles).
ClockRecoveryResult runWith(std::size_t settle, std::size_t total, std::size_t spikeFrom,
                            std::size_t spikeLength, double spikePpm, double wander = 0) {
    ClockRecoveryStats stats(kBit);
    std::vector<double> times;
    double t = 0;
    for (std::size_t i = 0; i < total; ++i) {
        times.push_back(t);
        double ppm = wander * static_cast<double>(i) / static_cast<double>(total);
        if (i >= spikeFrom && i < spikeFrom + spikeLength) ppm += spikePpm;
        t += kBit * (i < settle ? 1.01 : 1 + ppm * 1e-6);
    }
    stats.add(times);
    return stats.finish();
}
}  // namespace

TEST(ClockRecovery, OneExcursionDoesNotMoveTheLockButAWanderingLoopNeverSettles) {
    // a loop that settles after 4000 bits, with one 32-bit excursion of 115 ppm at bit 91 700
    // of 100 000: the window means see it as one window 115 ppm off (beyond the 100 ppm band)
    const ClockRecoveryResult spike = runWith(4000, 100000, 91712, 32, 115);
    ASSERT_TRUE(spike.lockBit.has_value());
    EXPECT_EQ(*spike.lockBit, 4000u);  // the first window wholly after the slow periods
    // without the excursion the same
    EXPECT_EQ(*runWith(4000, 100000, 0, 0, 0).lockBit, *spike.lockBit);
    // a period drifting by 1 % over the run: its last quarter alone spreads far beyond any
    // lock band
    const ClockRecoveryResult wandering = runWith(0, 100000, 0, 0, 0, 10000);
    EXPECT_FALSE(wandering.lockBit.has_value());
}
