#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <vector>

#include "engine/adaptation/stimulus_pattern.hpp"
#include "engine/adaptation/stimulus_waveform.hpp"
#include "engine/channel/channel_data_error.hpp"

namespace {

using Vec = std::vector<double>;
using Symbols = std::vector<std::int32_t>;
constexpr double kPi = std::numbers::pi;

std::vector<int> bitsOf(const std::string& pattern) {
    std::vector<int> bits;
    for (std::int32_t s : ExpandPattern(pattern)) bits.push_back(s > 0 ? 1 : 0);
    return bits;
}

TEST(StimulusPattern, FixedPatternsFollowTheirShiftRegisters) {
    const std::string& sweep = SweepPattern();
    EXPECT_EQ(sweep.size(), 2u + 4096u);
    EXPECT_EQ(sweep.substr(0, 6), "0xFFFC");
    const std::vector<int> s = bitsOf(sweep);
    ASSERT_EQ(s.size(), 16384u);
    for (std::size_t i = 0; i < 14; ++i) ASSERT_EQ(s[i], 1) << i;
    for (std::size_t i = 14; i < s.size(); ++i) {
        ASSERT_EQ(s[i], s[i - 2] ^ s[i - 3] ^ s[i - 13] ^ s[i - 14]) << i;
    }

    // "0x" and 127 digits: the 129-character pattern every text without a prefix stands for.
    const std::string& fallback = DefaultPattern();
    EXPECT_EQ(fallback.size(), 129u);
    EXPECT_EQ(fallback.substr(0, 6), "0xADEC");
    const std::vector<int> d = bitsOf(fallback);
    ASSERT_EQ(d.size(), 508u);
    EXPECT_EQ(std::vector<int>(d.begin(), d.begin() + 7), (std::vector<int>{1, 0, 1, 0, 1, 1, 0}));
    for (std::size_t i = 7; i < d.size(); ++i) ASSERT_EQ(d[i], d[i - 6] ^ d[i - 7]) << i;
    // Four whole periods of PRBS-7.
    for (std::size_t i = 127; i < d.size(); ++i) ASSERT_EQ(d[i], d[i - 127]) << i;
}

TEST(StimulusPattern, ExpandPatternReadsHexBinaryAndFallsBackToTheDefault) {
    EXPECT_EQ(ExpandPattern("0xA"), (Symbols{1, -1, 1, -1}));
    EXPECT_EQ(ExpandPattern("0xa5"), (Symbols{1, -1, 1, -1, -1, 1, -1, 1}));
    EXPECT_EQ(ExpandPattern("0xFz"), (Symbols{1, 1, 1, 1, -1, -1, -1, -1}));  // unknown: "0"
    EXPECT_EQ(ExpandPattern("0b10x0"), (Symbols{1, -1, 1, -1}));  // anything but "0" is a one
    EXPECT_TRUE(ExpandPattern("0b").empty());
    EXPECT_TRUE(ExpandPattern("0x").empty());
    EXPECT_EQ(ExpandPattern("A5"), ExpandPattern(DefaultPattern()));
    EXPECT_EQ(ExpandPattern(""), ExpandPattern(DefaultPattern()));
    EXPECT_EQ(ExpandPattern("0XA"), ExpandPattern(DefaultPattern()));  // the prefix is exact
}

TEST(StimulusPattern, ARequestedCountRepeatsOrCutsThePattern) {
    EXPECT_EQ(ExpandPattern("0xA", 6), (Symbols{1, -1, 1, -1, 1, -1}));
    EXPECT_EQ(ExpandPattern("0xC", 3), (Symbols{1, 1, -1}));
    EXPECT_TRUE(ExpandPattern("0x", 5).empty());
    const Symbols doubled = ExpandPattern(SweepPattern(), 32768);
    const Symbols once = ExpandPattern(SweepPattern());
    ASSERT_EQ(doubled.size(), 32768u);
    EXPECT_TRUE(std::equal(once.begin(), once.end(), doubled.begin()));
    EXPECT_TRUE(std::equal(once.begin(), once.end(), doubled.begin() + 16384));
}

// The stimulus exactly as described, step by step, with direct transforms and a direct
// circular convolution.
Vec literalReceived(const Symbols& symbols, const ModelGrid& grid, const Vec& impulse) {
    const std::size_t spb = static_cast<std::size_t>(grid.samplesPerBit);
    const std::size_t n = symbols.size() * spb;
    Vec x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = 0.5 * symbols[i / spb];

    const double sigma = (1.0 / grid.bitRate) / 5 * 0.6 / 1.6832;
    const double fs = grid.bitRate * grid.samplesPerBit;
    Vec centred(n);
    double largest = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const double f = (static_cast<double>(k) / n - 0.5) * fs;
        centred[k] = std::exp(-0.5 * std::pow(2 * kPi * f * sigma, 2));
        largest = std::max(largest, centred[k]);
    }
    using Cx = std::complex<long double>;
    std::vector<Cx> spectrum(n);
    for (std::size_t k = 0; k < n; ++k) {
        Cx sum = 0;
        for (std::size_t j = 0; j < n; ++j) {
            sum += static_cast<long double>(x[j]) *
                   std::polar(1.0L, -2 * std::numbers::pi_v<long double> * ((j * k) % n) / n);
        }
        spectrum[k] = sum * static_cast<long double>(centred[(k + n / 2) % n] / largest);
    }
    Vec shaped(n);
    for (std::size_t j = 0; j < n; ++j) {
        Cx sum = 0;
        for (std::size_t k = 0; k < n; ++k) {
            sum += spectrum[k] *
                   std::polar(1.0L, 2 * std::numbers::pi_v<long double> * ((j * k) % n) / n);
        }
        shaped[j] = static_cast<double>(sum.real() / n);  // the real parts
    }
    const double dt = grid.SampleInterval();
    Vec out(n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        long double sum = 0;
        for (std::size_t j = 0; j < impulse.size(); ++j) {
            sum += static_cast<long double>(impulse[j]) * shaped[(i + n * (j / n + 1) - j) % n];
        }
        out[i] = static_cast<double>(sum * dt);
    }
    return out;
}

Vec smoothImpulse(std::size_t length, double dt) {
    Vec h(length);
    for (std::size_t j = 0; j < length; ++j) {
        const double t = static_cast<double>(j);
        h[j] = (t * std::exp(-t / 9.0) + 0.3 * std::sin(t)) / (81.0 * dt);
    }
    return h;
}

TEST(StimulusWaveform, MatchesTheStepByStepConstruction) {
    struct Case {
        const char* pattern;
        std::size_t bits;
        int spb;
        std::size_t impulseLength;
    };
    // Even length; odd length (the rotated filter is then half a bin off symmetric); an impulse
    // longer than the stimulus, which wraps around.
    for (const Case& c :
         {Case{"0x5A3C96F0", 32, 8, 100}, Case{"0xB3", 25, 5, 40}, Case{"0x0F", 16, 4, 150}}) {
        const ModelGrid grid{10e9, c.spb};
        const Symbols symbols = ExpandPattern(c.pattern, c.bits);
        // The first build makes the pattern's spectrum on a second lane; the next ones, for this
        // channel and another, find it kept.
        for (std::size_t length : {c.impulseLength, c.impulseLength / 2}) {
            const Vec h = smoothImpulse(length, grid.SampleInterval());
            const Vec slow = literalReceived(symbols, grid, h);
            for (std::size_t lanes : {2u, 1u}) {
                const Vec fast =
                    BuildReceivedWaveform(symbols, grid, h, grid.SampleInterval(), lanes);
                ASSERT_EQ(fast.size(), slow.size());
                for (std::size_t i = 0; i < fast.size(); ++i) {
                    ASSERT_NEAR(fast[i], slow[i], 1e-12)
                        << c.pattern << " impulse " << length << " sample " << i;
                }
            }
        }
    }
}

TEST(StimulusWaveform, EdgesRiseInTwelveHundredthsOfAUnitInterval) {
    // Through a channel that passes the signal unchanged: one sample of 1/dt.
    const ModelGrid grid{10.3125e9, 256};
    const double dt = grid.SampleInterval();
    const Vec y = BuildReceivedWaveform(ExpandPattern("0x0F", 8), grid, {1.0 / dt}, dt);
    ASSERT_EQ(y.size(), 8u * 256u);
    // Levels settle at +-0.5 V inside long runs.
    EXPECT_NEAR(y[2 * 256], -0.5, 1e-9);
    EXPECT_NEAR(y[6 * 256], 0.5, 1e-9);
    // The rising edge at bit 4: times of the 20 % and 80 % levels.
    auto crossing = [&](double level) {
        for (std::size_t i = 3 * 256; i < 5 * 256; ++i) {
            if (y[i] < level && y[i + 1] >= level) return i + (level - y[i]) / (y[i + 1] - y[i]);
        }
        return -1.0;
    };
    const double riseUi = (crossing(0.3) - crossing(-0.3)) / 256;
    EXPECT_NEAR(riseUi, 0.12, 0.002);
}

TEST(StimulusWaveform, ImpulseUnitsAndResamplingKeepTheChannelGain) {
    // A channel of gain 0.8 with a delay of 3 samples, given in 1/s.
    const ModelGrid grid{10e9, 16};
    const double dt = grid.SampleInterval();
    const Symbols symbols = ExpandPattern("0x00FF", 16);
    const Vec through = BuildReceivedWaveform(symbols, grid, {1.0 / dt}, dt);
    const Vec scaled = BuildReceivedWaveform(symbols, grid, {0, 0, 0, 0.8 / dt}, dt);
    for (std::size_t i = 0; i < through.size(); ++i) {
        ASSERT_NEAR(scaled[(i + 3) % through.size()], 0.8 * through[i], 1e-12) << i;
    }

    // A smooth pulse of unit area handed over at 8 samples per bit is resampled onto the 16
    // samples per bit of the grid: the result is close to the pulse sampled at 16 directly.
    auto pulse = [](double t) {
        const double s = 30e-12;
        return std::exp(-0.5 * std::pow((t - 150e-12) / s, 2)) / (s * std::sqrt(2 * kPi));
    };
    Vec coarse(64), fine(127);
    for (std::size_t j = 0; j < coarse.size(); ++j) coarse[j] = pulse(j * 2 * dt);
    for (std::size_t j = 0; j < fine.size(); ++j) fine[j] = pulse(j * dt);
    const Vec resampled = BuildReceivedWaveform(symbols, grid, coarse, 2 * dt);
    const Vec direct = BuildReceivedWaveform(symbols, grid, fine, dt);
    for (std::size_t i = 0; i < direct.size(); ++i) ASSERT_NEAR(resampled[i], direct[i], 5e-3) << i;
    EXPECT_NEAR(direct[12 * 16], 0.5, 1e-6);  // unit area: the long run reaches the full level
}

TEST(StimulusWaveform, TwoPeriodsOfThePatternAreOnePeriodTwice) {
    // The adaptation's second stage reuses the sweep's waveform for its longer stimulus: that
    // holds only if the waveform of a repeated pattern repeats, whatever the channel's length
    // (here longer than one period) and whether its impulse needs resampling.
    const ModelGrid grid{10e9, 8};
    const double dt = grid.SampleInterval();
    const std::string pattern = "0x5A3C96F00F1E";
    const std::size_t bits = ExpandPattern(pattern).size();
    for (const double interval : {dt, 2 * dt}) {
        const Vec h = smoothImpulse(bits * 8 * 3 / 2, interval);
        const Vec once = BuildReceivedWaveform(ExpandPattern(pattern, bits), grid, h, interval);
        const Vec twice =
            BuildReceivedWaveform(ExpandPattern(pattern, 2 * bits), grid, h, interval);
        ASSERT_EQ(twice.size(), 2 * once.size());
        double peak = 0;
        for (double v : once) peak = std::max(peak, std::abs(v));
        ASSERT_GT(peak, 0.1);
        for (std::size_t i = 0; i < twice.size(); ++i) {
            ASSERT_NEAR(twice[i], once[i % once.size()], 1e-12 * peak) << interval << " " << i;
        }
    }
}

TEST(StimulusWaveform, RejectsWhatItCannotBuildFrom) {
    const ModelGrid grid{10e9, 8};
    const double dt = grid.SampleInterval();
    const Symbols symbols = ExpandPattern("0xA5");
    EXPECT_THROW(BuildReceivedWaveform(symbols, grid, {1.0, NAN}, dt), ChannelDataError);
    EXPECT_THROW(BuildReceivedWaveform(symbols, grid, {1.0, INFINITY}, dt), ChannelDataError);
    EXPECT_THROW(BuildReceivedWaveform(symbols, {0, 8}, {1.0}, dt), ChannelDataError);
    EXPECT_THROW(BuildReceivedWaveform(symbols, {10e9, 0}, {1.0}, dt), ChannelDataError);
    EXPECT_THROW(BuildReceivedWaveform(symbols, grid, {1.0}, 0.0), ChannelDataError);
    // An impulse handed over at an absurdly coarse interval is refused, not resampled into
    // gigabytes.
    EXPECT_THROW(BuildReceivedWaveform(symbols, grid, {1.0, 1.0}, 1.0), ChannelDataError);
    EXPECT_TRUE(BuildReceivedWaveform({}, grid, {1.0 / dt}, dt).empty());
    // An empty impulse is a channel that passes nothing.
    for (double v : BuildReceivedWaveform(symbols, grid, {}, dt)) EXPECT_EQ(v, 0.0);
}

}  // namespace
