// What the receiver hands a simulator about its clock, through the C interface: a time for
// every bit whatever the block length, a terminated list even for an empty block, a count of
// the times it could not deliver, and a lock report that a flat input never earns.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "dfe_test_support.hpp"
#include "rx_test_support.hpp"

using namespace rxtest;

namespace {

constexpr double kBitTime = 1e-10;
constexpr int kSpb = 32;
constexpr double kDt = kBitTime / kSpb;

std::vector<double> DeltaImpulse() { return dfetest::DeltaImpulse(kDt); }

struct Delivery {
    std::vector<double> times;
    std::string lastParamsOut;
    std::string console;
};

Delivery Deliver(RxInstance& rx, const std::vector<double>& wave, std::size_t block) {
    Delivery d;
    std::vector<double> clocks;
    testing::internal::CaptureStdout();
    for (std::size_t start = 0; start < wave.size(); start += block) {
        std::vector<double> part(wave.begin() + start,
                                 wave.begin() + std::min(wave.size(), start + block));
        clocks.assign(part.size() + 1, 0.0);
        EXPECT_EQ(rx.GetWave(part, clocks), 1);
        std::size_t i = 0;
        for (; i <= part.size() && clocks[i] != -1.0; ++i) d.times.push_back(clocks[i]);
        // One time per started bit at most, inside the block's own array.
        EXPECT_LE(i, (part.size() + kSpb - 1) / kSpb);
    }
    d.console = testing::internal::GetCapturedStdout();
    d.lastParamsOut = rx.lastParamsOut();
    return d;
}

long long ReportedInteger(const std::string& params, const std::string& name) {
    std::smatch m;
    if (!std::regex_search(params, m, std::regex("\\(" + name + " (-?[0-9]+)\\)"))) return -999;
    return std::stoll(m[1]);
}

class ClockDeliveryTest : public dfetest::DfeDatabaseTest {};

}  // namespace

TEST_F(ClockDeliveryTest, EveryBitGetsItsClockTimeInBlocksThatEndInsideABit) {
    // 30 000 bits in blocks of 1000 samples (31.25 bits): a time for every bit, one bit apart.
    const std::vector<int> bits = dfetest::RandomBits(30000, 11);
    const std::vector<double> wave = dfetest::IsiWave(bits, {0.25}, kSpb, 1.0, 7.0);
    for (const char* mode : {"(mode 0)", "(mode 2)"}) {
        std::vector<double> impulse = DeltaImpulse();
        RxInstance rx(impulse, kDt, kBitTime, Params(dir.path(), {{"dfe", mode}}));
        ASSERT_TRUE(rx.ok());
        const Delivery d = Deliver(rx, wave, 1000);
        // The clock starts half a bit in and its times lead the data instants by half a bit:
        // every bit of the run but the last has its time.
        EXPECT_GE(d.times.size(), 29999u) << mode;
        EXPECT_LE(d.times.size(), 30000u) << mode;
        for (std::size_t i = 1; i < d.times.size(); ++i) {
            ASSERT_NEAR(d.times[i] - d.times[i - 1], kBitTime, 0.2 * kBitTime) << mode << i;
        }
        EXPECT_EQ(ReportedInteger(d.lastParamsOut, "clock_times_dropped"), 0) << d.lastParamsOut;
        EXPECT_EQ(d.console, "");
    }
}

TEST_F(ClockDeliveryTest, TimesThatCannotBeDeliveredAreCountedAndSaidOnce) {
    // Data 0.15 % faster than the bit time, in blocks of exactly one bit (8 samples): a time
    // more than the blocks' bits every 667 bits, more than the 64 that may wait after 43 000.
    const int spb = 8;
    const double dt = kBitTime / spb;
    const std::vector<int> bits = dfetest::RandomBits(100000, 12);
    const std::vector<double> wave = dfetest::IsiWave(bits, {0.25}, spb, 1 / 1.0015, 3.0);
    std::vector<double> impulse(64, 0.0);
    impulse[2] = 1.0 / dt;
    RxInstance rx(impulse, dt, kBitTime, Params(dir.path(), {{"cdr_bandwidth", "2"}}));
    Delivery d;
    std::vector<double> part(spb), clocks(spb + 1);
    testing::internal::CaptureStdout();
    for (std::size_t start = 0; start + spb <= wave.size(); start += spb) {
        std::copy(wave.begin() + start, wave.begin() + start + spb, part.begin());
        ASSERT_EQ(rx.GetWave(part, clocks), 1);
        for (std::size_t i = 0; clocks[i] != -1.0; ++i) {
            ASSERT_LT(i, 1u);
            d.times.push_back(clocks[i]);
        }
    }
    d.console = testing::internal::GetCapturedStdout();
    const long long dropped = ReportedInteger(rx.lastParamsOut(), "clock_times_dropped");
    // Every bit's time was delivered, still waits (64) or was counted; the clock takes some
    // tens of bits to pull in to the faster data at the start.
    const double found = static_cast<double>(wave.size() / spb * spb) / (spb / 1.0015);
    EXPECT_GT(dropped, 20);
    EXPECT_NEAR(static_cast<double>(d.times.size() + dropped) + 64, found, 40);
    const std::regex once(
        "^WARNING: More clock times than the simulator's buffer holds[^\\n]*\\n$");
    EXPECT_TRUE(std::regex_match(d.console, once)) << d.console;
}

TEST_F(ClockDeliveryTest, AnEmptyBlockStillTerminatesTheClockTimes) {
    std::vector<double> impulse = DeltaImpulse();
    RxInstance rx(impulse, kDt, kBitTime, Params(dir.path(), {{"dfe", "(mode 2)"}}));
    std::vector<double> wave = dfetest::IsiWave(dfetest::RandomBits(100, 13), {0.25}, kSpb);
    std::vector<double> clocks(wave.size() + 1, 0.0);
    ASSERT_EQ(rx.GetWave(wave, clocks), 1);
    ASSERT_NE(clocks[0], -1.0);  // the stale times a simulator could read again
    std::vector<double> empty;
    ASSERT_EQ(rx.GetWave(empty, clocks), 1);
    EXPECT_EQ(clocks[0], -1.0);
}

TEST_F(ClockDeliveryTest, AFlatInputNeverLocksCleanDataLocksEarly) {
    ScopedCurrentDir cwd(dir.path());
    const std::string params =
        Params(dir.path(), {{"dfe", "(mode 2)"}, {"debug", "(enable True)"}});
    {
        std::vector<double> impulse = DeltaImpulse();
        RxInstance rx(impulse, kDt, kBitTime, params);
        const Delivery d = Deliver(rx, std::vector<double>(20000 * kSpb, 0.2), 8192);
        EXPECT_EQ(ReportedInteger(d.lastParamsOut, "cdr_lock_bit"), -1) << d.lastParamsOut;
    }
    std::string debug = ReadFile(dir.path() / "Corvan_V10_Rx_AMI_Debug.txt");
    EXPECT_EQ(debug.find("CDR is locked"), std::string::npos);
    EXPECT_NE(debug.find("CDR is not locked at time"), std::string::npos);

    {
        std::vector<double> impulse = DeltaImpulse();
        RxInstance rx(impulse, kDt, kBitTime, params);
        const std::vector<int> bits = dfetest::RandomBits(20000, 14);
        const Delivery d = Deliver(rx, dfetest::IsiWave(bits, {0.25, 0.05}, kSpb, 1.0, 3.0), 8192);
        const long long lockBit = ReportedInteger(d.lastParamsOut, "cdr_lock_bit");
        EXPECT_GE(lockBit, 1023);  // two windows of 512 bits at least
        EXPECT_LT(lockBit, 5000);
        // The report follows the tap report, as the last entries.
        EXPECT_TRUE(std::regex_search(
            d.lastParamsOut,
            std::regex(
                "\\(tap_11 [^)]*\\) \\(cdr_lock_bit [0-9]+\\) \\(clock_times_dropped 0\\)\\)\\n$")))
            << d.lastParamsOut;
    }
    debug = ReadFile(dir.path() / "Corvan_V10_Rx_AMI_Debug.txt");
    EXPECT_NE(debug.find("CDR is not locked at time, 0.000000e+00 s.\n"), std::string::npos);
    EXPECT_NE(debug.find("CDR is locked at time"), std::string::npos);
}
