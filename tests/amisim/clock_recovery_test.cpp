// The recovered clock's figures from its clock times: period, ppm error and lock.
#include "amisim/clock_recovery.hpp"

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
