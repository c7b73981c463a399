// The DFE and clock recovery as a simulator samples them, through the C interface: the eye a
// jittered sampler finds does not depend on the sample rate, and the clock times do not depend
// on how the waveform is cut into blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "dfe_test_support.hpp"
#include "rx_test_support.hpp"

using namespace rxtest;

namespace {

constexpr double kBitTime = 1e-10;

struct BlockRun {
    std::vector<double> output;
    std::vector<double> clockTimes;
};

BlockRun RunBlocks(RxInstance& rx, const std::vector<double>& wave, std::size_t block) {
    BlockRun r;
    std::vector<double> part, clocks;
    for (std::size_t start = 0; start < wave.size(); start += block) {
        part.assign(wave.begin() + start, wave.begin() + std::min(wave.size(), start + block));
        clocks.assign(part.size() + 1, 0.0);
        EXPECT_EQ(rx.GetWave(part, clocks), 1);
        for (std::size_t i = 0; clocks[i] != -1.0; ++i) r.clockTimes.push_back(clocks[i]);
        r.output.insert(r.output.end(), part.begin(), part.end());
    }
    return r;
}

std::vector<double> DeltaImpulse(double dt) { return dfetest::DeltaImpulse(dt, 2048); }

class DfeTimingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Flat stages up to well past the finest sample rate of these tests, so that every rate
        // sees the same signal.
        TestDatabase db;
        db.frequencies = FrequencyGrid(10e9, 2.0e12);
        WriteTestDatabase(dir.path(), db);
        dfetest::WriteDfeMaps(dir.path());
    }
    TempDir dir;
};

// Eye height (lowest one minus highest zero) of the bits from `from` on, sampled half a bit
// after each clock time plus a jitter that is the same sequence (in unit intervals) at every
// sample rate.
double JitteredEye(const BlockRun& r, const std::vector<int>& bits, double spb, double delay,
                   std::size_t from, double jitterUi) {
    const double dt = kBitTime / spb;
    std::mt19937 rng(99);
    std::normal_distribution<double> jitter(0.0, jitterUi);
    double lowestOne = 1e9, highestZero = -1e9;
    for (double t : r.clockTimes) {
        const double j = std::clamp(jitter(rng), -3 * jitterUi, 3 * jitterUi);
        const double at = (t + kBitTime / 2) / dt;
        const auto bit = static_cast<std::size_t>((at - delay) / spb);
        const double sample = at + j * spb;
        const auto i = static_cast<std::size_t>(std::floor(sample));
        if (bit < from || bit >= bits.size() || i + 1 >= r.output.size()) continue;
        const double f = sample - static_cast<double>(i);
        const double v = r.output[i] + f * (r.output[i + 1] - r.output[i]);
        if (bits[bit]) {
            lowestOne = std::min(lowestOne, v);
        } else {
            highestZero = std::max(highestZero, v);
        }
    }
    return lowestOne - highestZero;
}

}  // namespace

TEST_F(DfeTimingTest, TheJitteredEyeDoesNotDependOnTheSampleRate) {
    // Strong post-cursors that the fixed taps cancel, sampled with 0.06 UI rms of jitter (cut
    // at 0.18 UI): the feedback of a bit holds over all of it, so the sampler never catches the
    // next bit's feedback, however finely the waveform is sampled.
    const std::vector<int> bits = dfetest::RandomBits(12000, 31);
    const std::vector<double> cursors = {0.3, 0.12, 0.06};
    double eyes[2];
    int n = 0;
    for (double spb : {16.0, 256.0}) {
        const double dt = kBitTime / spb;
        const double delay = 0.3 * spb;
        const std::vector<double> wave = dfetest::IsiWave(bits, cursors, spb, 1.0, delay);
        std::vector<double> impulse = DeltaImpulse(dt);
        RxInstance rx(impulse, dt, kBitTime,
                      Params(dir.path(), {{"dfe", "(mode 2)"}, {"cdr_bandwidth", "1"}}));
        ASSERT_TRUE(rx.ok());
        const BlockRun r = RunBlocks(rx, wave, static_cast<std::size_t>(512 * spb));
        eyes[n++] = JitteredEye(r, bits, spb, delay, 8000, 0.06);
    }
    RecordProperty("eye16", std::to_string(eyes[0]));
    RecordProperty("eye256", std::to_string(eyes[1]));
    EXPECT_GT(eyes[0], 0.3);  // open: the post-cursors (0.36 V together) are cancelled
    EXPECT_NEAR(eyes[0] / eyes[1], 1.0, 0.05) << eyes[0] << " " << eyes[1];
}

TEST_F(DfeTimingTest, ClockTimesDoNotDependOnTheBlockCut) {
    const double spb = 32;
    const double dt = kBitTime / spb;
    const std::vector<int> bits = dfetest::RandomBits(7000, 32);
    const std::vector<double> wave = dfetest::IsiWave(bits, {0.3, 0.1, 0.05}, spb, 1.0002, 9.0);
    for (const char* mode : {"(mode 2)", "(mode 0)"}) {
        std::vector<BlockRun> runs;
        for (std::size_t block : {32u, 32u * 1024u, 1000u}) {
            std::vector<double> impulse = DeltaImpulse(dt);
            RxInstance rx(impulse, dt, kBitTime, Params(dir.path(), {{"dfe", mode}}));
            runs.push_back(RunBlocks(rx, wave, block));
        }
        ASSERT_GT(runs[0].clockTimes.size(), 6900u) << mode;
        EXPECT_EQ(runs[0].clockTimes, runs[1].clockTimes) << mode;
        EXPECT_EQ(runs[0].clockTimes, runs[2].clockTimes) << mode;
    }
}
