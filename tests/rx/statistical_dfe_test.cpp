// The DFE in the impulse response AMI_Init returns, through the C interface: the pulse a
// simulator builds from it loses at each post-cursor what the waveform's DFE subtracts there,
// and fixed taps are reported and written as the user set them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <regex>

#include "dfe_test_support.hpp"
#include "rx_test_support.hpp"

using namespace rxtest;

namespace {

constexpr double kBitTime = 1e-10;
constexpr int kSpb = 32;
constexpr double kDt = kBitTime / kSpb;
constexpr double kLevel = 0.5;  // the stimulus is +-0.5 V

// A smooth channel with two post-cursor echoes: Gaussian bumps (sigma 0.3 UI) at 3, 4 and 5 UI,
// in 1/s, 512 samples long.
std::vector<double> EchoChannel() {
    std::vector<double> h(512, 0.0);
    const double sigma = 0.3 * kSpb;
    const double weights[3] = {1.0, 0.3, 0.12};
    double area = 0;
    for (std::size_t j = 0; j < h.size(); ++j) {
        for (int e = 0; e < 3; ++e) {
            const double u = (static_cast<double>(j) - (3 + e) * kSpb) / sigma;
            h[j] += weights[e] * std::exp(-0.5 * u * u);
        }
        area += h[j];
    }
    // Unit area (in samples) for the main bump and its echoes together.
    for (double& v : h) v /= area * kDt;
    return h;
}

// The pulse of one bit of kLevel volts: kLevel * dt * (sum of the last kSpb impulse samples).
std::vector<double> Pulse(const std::vector<double>& h) {
    std::vector<double> p(h.size(), 0.0);
    for (std::size_t i = 0; i < h.size(); ++i) {
        for (std::size_t j = 0; j < static_cast<std::size_t>(kSpb) && j <= i; ++j) p[i] += h[i - j];
        p[i] *= kLevel * kDt;
    }
    return p;
}

class StatisticalDfeTest : public dfetest::DfeDatabaseTest {};

}  // namespace

TEST_F(StatisticalDfeTest, TheImpulseCancelsWhatTheWaveformDfeCancels) {
    const std::vector<double> channel = EchoChannel();
    const std::vector<double> pulse = Pulse(channel);
    const std::size_t main =
        static_cast<std::size_t>(std::max_element(pulse.begin(), pulse.end()) - pulse.begin());
    const std::vector<std::pair<std::string, std::string>> params = {
        {"dfe", "(mode 1)"}, {"tap_1", "60"}, {"tap_2", "25"}, {"tap_3", "-10"}};

    // Statistical side: the pulse of the impulse AMI_Init returns.
    std::vector<double> impulse = channel;
    RxInstance stat(impulse, kDt, kBitTime, Params(dir.path(), params));
    ASSERT_TRUE(stat.ok());
    EXPECT_NE(stat.paramsOut().find(" (tap_1 60 "), std::string::npos) << stat.paramsOut();
    EXPECT_NE(stat.paramsOut().find(" (tap_3 -10 "), std::string::npos) << stat.paramsOut();
    const std::vector<double> withDfe = Pulse(impulse);

    // Waveform side: random bits through the same channel, each bit the pulse shifted by a bit.
    const std::vector<int> bits = dfetest::RandomBits(16000, 41);
    std::vector<double> wave(bits.size() * kSpb, 0.0);
    for (std::size_t n = 0; n < bits.size(); ++n) {
        const double b = bits[n] ? 1.0 : -1.0;
        for (std::size_t i = 0; i < pulse.size() && n * kSpb + i < wave.size(); ++i) {
            wave[n * kSpb + i] += b * pulse[i];
        }
    }
    std::vector<double> impulse2 = channel;
    RxInstance rx(impulse2, kDt, kBitTime, Params(dir.path(), params));
    std::vector<double> output, clocks;
    std::vector<double> times;
    for (std::size_t start = 0; start < wave.size(); start += 8192) {
        std::vector<double> part(wave.begin() + start,
                                 wave.begin() + std::min(wave.size(), start + 8192));
        clocks.assign(part.size() + 1, 0.0);
        ASSERT_EQ(rx.GetWave(part, clocks), 1);
        for (std::size_t i = 0; clocks[i] != -1.0; ++i) times.push_back(clocks[i]);
        output.insert(output.end(), part.begin(), part.end());
    }
    // What the DFE subtracted (the stages are flat), at each sampling instant, against the bit
    // decided k bits before: its mean is the DFE's cancellation of post-cursor k.
    double cancelled[4] = {0, 0, 0, 0};
    std::size_t count = 0;
    for (double t : times) {
        const double at = (t + kBitTime / 2) / kDt;
        const auto i = static_cast<std::size_t>(std::lround(at));
        // Bit n's pulse peaks at n * kSpb + main.
        const long n = std::lround((at - static_cast<double>(main)) / kSpb);
        if (n < 8000 || i >= wave.size() || n >= static_cast<long>(bits.size())) continue;
        const double feedback = wave[i] - output[i];
        for (int k = 1; k <= 3; ++k) cancelled[k] += feedback * (bits[n - k] ? 1.0 : -1.0);
        ++count;
    }
    ASSERT_GT(count, 7000u);
    for (int k = 1; k <= 3; ++k) {
        cancelled[k] /= static_cast<double>(count);
        const std::size_t at = main + static_cast<std::size_t>(k * kSpb);
        const double statCancelled = pulse[at] - withDfe[at];
        RecordProperty("cursor" + std::to_string(k), std::to_string(pulse[at]));
        // Within a tenth of the cursor, or of what is cancelled where the taps set reach
        // further than the cursor.
        EXPECT_NEAR(statCancelled, cancelled[k],
                    0.1 * std::max(std::fabs(pulse[at]), std::fabs(cancelled[k])))
            << "post-cursor " << k << ": " << pulse[at] << " V, waveform DFE cancels "
            << cancelled[k] << " V, the impulse " << statCancelled << " V";
        // Over the whole bit around the post-cursor, not only at its centre.
        for (int off : {-kSpb / 2 + 1, kSpb / 2 - 1}) {
            const std::size_t j = at + off;
            EXPECT_NEAR(pulse[j] - withDfe[j], statCancelled, 1e-6) << k << " " << off;
        }
    }
    // Nothing moves before the first post-cursor's bit.
    for (std::size_t j = 0; j + kSpb / 2 < main + kSpb; ++j)
        ASSERT_NEAR(withDfe[j], pulse[j], 1e-6) << j;
}
