// AMI_GetWave: overlap-save across blocks, amplitude curves, FFT lengths, clock times.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <thread>

#include "rx_test_support.hpp"

using namespace rxtest;

namespace {

constexpr double kBitTime = 1e-10;
constexpr int kSpb = 32;
constexpr double kDt = kBitTime / kSpb;

// NRZ waveform of a PRBS-7 pattern at +-amplitude, kSpb samples per bit.
std::vector<double> NrzWave(std::size_t samples, double amplitude) {
    std::vector<double> wave(samples);
    unsigned state = 0x7f;
    double level = amplitude;
    for (std::size_t i = 0; i < samples; ++i) {
        if (i % kSpb == 0) {
            const unsigned bit = ((state >> 6) ^ (state >> 5)) & 1u;
            state = ((state << 1) | bit) & 0x7fu;
            level = bit ? amplitude : -amplitude;
        }
        wave[i] = level;
    }
    return wave;
}

std::vector<double> SmallImpulse() {
    std::vector<double> v(512, 0.0);
    v[10] = 1.0 / kDt;
    return v;
}

std::vector<long> NfftValues(const std::string& text) {
    std::vector<long> values;
    const std::regex line("Nfft: ([0-9]+)");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line);
         it != std::sregex_iterator(); ++it) {
        values.push_back(std::stol((*it)[1]));
    }
    return values;
}

}  // namespace

class WaveformTest : public ::testing::Test {
  protected:
    TempDir dir;
};

TEST_F(WaveformTest, TwoBlocksEqualOneBlockOfDoubleLength) {
    TestDatabase db;
    db.frequencies = FrequencyGrid(0.25e9, 200e9);
    db.ctle = GaussianStage(12e9, 50e-12);
    db.vga = GaussianStage(20e9, 30e-12);
    db.curve = SaturatingCurve(0.5);
    WriteTestDatabase(dir.path(), db);
    const std::vector<double> input = NrzWave(3 * 4096, 0.4);
    std::vector<double> clocks(input.size() + 1);

    std::vector<double> impulse = SmallImpulse();
    RxInstance split(impulse, kDt, kBitTime, Params(dir.path(), {{"cdr_sel", "1"}}));
    ASSERT_TRUE(split.ok()) << split.message();
    EXPECT_EQ(split.message().find("WARNING: No usable"), std::string::npos);
    std::vector<double> splitOut;
    for (int b = 0; b < 3; ++b) {
        std::vector<double> block(input.begin() + b * 4096, input.begin() + (b + 1) * 4096);
        ASSERT_EQ(split.GetWave(block, clocks), 1);
        splitOut.insert(splitOut.end(), block.begin(), block.end());
    }

    impulse = SmallImpulse();
    RxInstance whole(impulse, kDt, kBitTime, Params(dir.path(), {{"cdr_sel", "1"}}));
    ASSERT_TRUE(whole.ok());
    std::vector<double> first(input.begin(), input.begin() + 4096);
    std::vector<double> rest(input.begin() + 4096, input.end());
    rest.resize(2 * 4096);
    ASSERT_EQ(whole.GetWave(first, clocks), 1);
    ASSERT_EQ(whole.GetWave(rest, clocks), 1);

    // The second and third blocks of the split run meet the double block of the other run,
    // which saw the same history. Only the faint echoes of the resampled tables (1 / table
    // spacing away) wrap differently on the two transform lengths.
    double worst = 0;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        worst = std::max(worst, std::abs(rest[i] - splitOut[4096 + i]));
    }
    EXPECT_LT(worst, 1e-4);
    // And the waveform was really filtered and limited.
    double peak = 0;
    for (double v : rest) peak = std::max(peak, std::abs(v));
    EXPECT_GT(peak, 0.2);
    EXPECT_LT(peak, 0.5);
}

TEST_F(WaveformTest, StageGainAndAmplitudeCurveShapeTheBlock) {
    TestDatabase db;
    db.ctle = FlatStage(6.0206);
    db.curve = SaturatingCurve(0.5);  // applied after the CTLE and after the VGA
    WriteTestDatabase(dir.path(), db);
    std::vector<double> impulse = SmallImpulse();
    RxInstance rx(impulse, kDt, kBitTime, Params(dir.path()));
    ASSERT_TRUE(rx.ok());
    std::vector<double> wave(2000);
    for (std::size_t i = 0; i < wave.size(); ++i) wave[i] = 0.3 * std::sin(0.001 * i);
    const std::vector<double> input = wave;
    std::vector<double> clocks(wave.size() + 1);
    ASSERT_EQ(rx.GetWave(wave, clocks), 1);
    for (std::size_t i = 0; i < wave.size(); i += 37) {
        const double afterCtle = 0.5 * std::tanh(2.0 * input[i] / 0.5);
        const double expected = 0.5 * std::tanh(afterCtle / 0.5);
        ASSERT_NEAR(wave[i], expected, 2e-4) << "sample " << i;
    }
}

TEST_F(WaveformTest, WithoutRecoveredClockOnlyTheTerminatorIsWritten) {
    WriteTestDatabase(dir.path(), TestDatabase{});
    std::vector<double> impulse = SmallImpulse();
    RxInstance rx(impulse, kDt, kBitTime, Params(dir.path(), {{"cdr_sel", "1"}}));
    ASSERT_TRUE(rx.ok());
    std::vector<double> wave = NrzWave(1024, 0.3);
    std::vector<double> clocks(wave.size() + 1, 7.0);
    for (int call = 0; call < 2; ++call) {
        ASSERT_EQ(rx.GetWave(wave, clocks), 1);
        EXPECT_EQ(clocks[0], -1.0);
        EXPECT_EQ(clocks[1], 7.0);
        EXPECT_EQ(rx.lastParamsOut(), "(Vanta10_Rx\n)\n");
    }
}

TEST_F(WaveformTest, AbsurdTimingRatioStillTerminatesTheClockTimesInPlace) {
    // Far more "bits" per block than any integer holds: still only the terminator is written.
    WriteTestDatabase(dir.path(), TestDatabase{});
    std::vector<double> impulse(64, 0.0);
    RxInstance rx(impulse, 1e10, 1e-11, Params(dir.path()));
    ASSERT_TRUE(rx.ok()) << rx.message();
    std::vector<double> wave(64, 0.1);
    std::vector<double> clocks(wave.size() + 1, 7.0);
    ASSERT_EQ(rx.GetWave(wave, clocks), 1);
    EXPECT_EQ(clocks[0], -1.0);
    EXPECT_EQ(clocks[1], 7.0);
}

TEST_F(WaveformTest, BlockLengthChoosesTheFftLength) {
    // No database: no stages, so the long blocks pass through quickly.
    ScopedCurrentDir cwd(dir.path());
    std::vector<double> impulse(1000, 0.0);
    RxInstance rx(impulse, kDt, kBitTime, Params(dir.path(), {{"debug", "(enable True)"}}));
    ASSERT_TRUE(rx.ok());
    std::vector<double> clocks;
    auto run = [&](std::size_t n) {
        std::vector<double> wave(n, 0.25);
        clocks.assign(n + 1, 0.0);
        ASSERT_EQ(rx.GetWave(wave, clocks), 1);
        EXPECT_EQ(wave.front(), 0.25);
    };
    run(1000);     // same length as the impulse: no new configuration
    run(4096);     // power-of-two rule: 8192
    run(4096);     // unchanged length: no new configuration
    run(1 << 20);  // 32768 bits: 3 * 2^19 leaves 524288 samples of history
    run(600000);   // 18750 bits: 3 * 2^18 = 786432 leaves 186432 >= 4096 * 32
    run(700000);   // 3 * 2^18 would leave only 86432: power-of-two rule, 2 * 2^20
    const std::vector<long> expected{2048, 8192, 1572864, 786432, 2097152};
    EXPECT_EQ(NfftValues(ReadFile(dir.path() / "Corvan_V10_Rx_AMI_Debug.txt")), expected);
}

TEST_F(WaveformTest, DebugFileGetsOneJumpLinePairPerCall) {
    WriteTestDatabase(dir.path(), TestDatabase{});
    ScopedCurrentDir cwd(dir.path());
    {
        std::vector<double> impulse = SmallImpulse();
        RxInstance rx(impulse, kDt, kBitTime,
                      Params(dir.path(), {{"debug", "(enable True) (dump_getwave_output True)"}}));
        ASSERT_TRUE(rx.ok());
        std::vector<double> wave(300, 0.1);
        std::vector<double> clocks(301);
        for (int call = 0; call < 3; ++call) ASSERT_EQ(rx.GetWave(wave, clocks), 1);
    }
    const std::string debug = ReadFile(dir.path() / "Corvan_V10_Rx_AMI_Debug.txt");
    auto count = [&](const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = debug.find(what); at != std::string::npos;
             at = debug.find(what, at + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(count("input jump"), 3u);
    EXPECT_EQ(count("output jump"), 3u);
    EXPECT_NE(debug.find("At time, 0.000000e+00 s, input jump: 0.100000 V."), std::string::npos);
    // The third block starts 2 x 300 samples of 3.125 ps later.
    EXPECT_NE(debug.find("At time, 1.875000e-09 s, input jump: "), std::string::npos);
    EXPECT_NE(debug.find("At time, 1.875000e-09 s, output jump: "), std::string::npos);
    const std::string dump = ReadFile(dir.path() / "Corvan_V10_Rx_AMI_GetWave_Output.txt");
    EXPECT_EQ(std::count(dump.begin(), dump.end(), '\n'), 1 + 3 * 300);
}

TEST_F(WaveformTest, InstancesOnTwoThreadsMatchARunOnOne) {
    TestDatabase db;
    db.frequencies = FrequencyGrid(0.25e9, 200e9);
    db.ctle = GaussianStage(12e9, 50e-12);
    db.curve = SaturatingCurve(0.5);
    WriteTestDatabase(dir.path(), db);
    // Different block lengths, so that the two instances need different transform lengths.
    auto run = [&](std::size_t block, std::vector<double>& out) {
        std::vector<double> impulse = SmallImpulse();
        RxInstance rx(impulse, kDt, kBitTime, Params(dir.path(), {{"cdr_sel", "1"}}));
        ASSERT_TRUE(rx.ok());
        const std::vector<double> input = NrzWave(8 * 3000, 0.4);
        std::vector<double> clocks(block + 1);
        out.clear();
        for (std::size_t start = 0; start + block <= input.size(); start += block) {
            std::vector<double> wave(input.begin() + start, input.begin() + start + block);
            ASSERT_EQ(rx.GetWave(wave, clocks), 1);
            out.insert(out.end(), wave.begin(), wave.end());
        }
    };
    std::vector<double> aloneA, aloneB, threadA, threadB;
    run(3000, aloneA);
    run(4000, aloneB);
    std::thread a([&] { run(3000, threadA); });
    std::thread b([&] { run(4000, threadB); });
    a.join();
    b.join();
    EXPECT_EQ(threadA, aloneA);
    EXPECT_EQ(threadB, aloneB);
}
