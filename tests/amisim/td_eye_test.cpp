#include "amisim/td_eye.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "amisim/prbs.hpp"

using namespace amisim;

namespace {
constexpr int kSpb = 32;
constexpr double kDt = 1e-12;
constexpr double kBit = kSpb * kDt;

std::vector<bool> prbsBits(std::size_t n) {
    Prbs p(7);
    std::vector<bool> b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = p.next() != 0;
    return b;
}

// Held levels 0.4 * b_k + 0.1 * b_(k-1) (b as +-1), delayed by `delayBits`.
std::vector<double> waveform(const std::vector<bool>& bits, int delayBits) {
    std::vector<double> w(bits.size() * kSpb, 0.0);
    for (std::size_t k = 0; k < bits.size(); ++k) {
        const long src = static_cast<long>(k) - delayBits;
        if (src < 1) continue;
        const double v = 0.4 * (bits[static_cast<std::size_t>(src)] ? 1 : -1) +
                         0.1 * (bits[static_cast<std::size_t>(src - 1)] ? 1 : -1);
        for (int i = 0; i < kSpb; ++i) w[k * kSpb + static_cast<std::size_t>(i)] = v;
    }
    return w;
}

TdEyeOptions options() {
    TdEyeOptions o;
    o.samplesPerBit = kSpb;
    o.sampleInterval = kDt;
    o.mainIndex = 15;
    o.ignoreBits = 100;
    return o;
}

// Feeds the waveform in uneven blocks, with clock edges one bit apart when asked.
TdEyeResult feed(const std::vector<bool>& bits, const std::vector<double>& w, bool clocks,
                 const TdEyeOptions& o = options()) {
    TdEye eye(bits, o);
    std::size_t pos = 0, len = 300;
    while (pos < w.size()) {
        const std::size_t n = std::min(len, w.size() - pos);
        std::vector<double> block(w.begin() + static_cast<long>(pos),
                                  w.begin() + static_cast<long>(pos + n));
        std::vector<double> ct;
        if (clocks)
            for (std::size_t k = (pos + kSpb - 1) / kSpb; k * kSpb < pos + n; ++k)
                ct.push_back(static_cast<double>(k) * kBit);
        eye.addBlock(block, ct);
        pos += n;
        len = len == 300 ? 777 : 300;
    }
    return eye.finish();
}
}  // namespace

TEST(TdEye, BestPhaseMeasuresTheInnerOpening) {
    auto bits = prbsBits(3000);
    TdEyeResult r = feed(bits, waveform(bits, 0), false);
    EXPECT_FALSE(r.usedClockTimes);
    EXPECT_NEAR(r.eyeHeight, 2 * (0.4 - 0.1), 1e-12);
    EXPECT_NEAR(r.eyeWidth, 1.0, 1.5 / kSpb);
    EXPECT_EQ(r.bitErrors, 0u);
    // every bit after the ignored ones whose two unit intervals lie within the waveform
    EXPECT_NEAR(static_cast<double>(r.sampledBits), 3000 - 100, 2);
    // the mean of v * b at the sampling point is the main cursor: the 0.1 V cursor averages out
    EXPECT_NEAR(r.signalLevel, 0.4, 0.01);
    EXPECT_NEAR(r.peakAbs, 0.5, 1e-12);
    EXPECT_GT(r.pictureColumns, 0);
    // a latch that needs 50 mV either side takes 100 mV off the height
    TdEyeOptions o = options();
    o.sensitivity = 0.05;
    EXPECT_NEAR(feed(bits, waveform(bits, 0), false, o).eyeHeight, 0.5, 1e-12);
}

TEST(TdEye, ClockTimesAreUsedAndAOneBitLatencyIsFound) {
    auto bits = prbsBits(3000);
    TdEyeResult r = feed(bits, waveform(bits, 0), true);
    EXPECT_TRUE(r.usedClockTimes);
    EXPECT_NEAR(r.eyeHeight, 0.6, 1e-12);
    EXPECT_NEAR(r.eyeWidth, 1.0, 1.5 / kSpb);
    EXPECT_NEAR(r.meanClockPeriod, kBit, 1e-15);
    EXPECT_EQ(r.bitShift, 0);
    r = feed(bits, waveform(bits, 1), true);
    EXPECT_EQ(r.bitShift, -1);
    EXPECT_NEAR(r.eyeHeight, 0.6, 1e-12);
    EXPECT_EQ(r.bitErrors, 0u);
}

TEST(TdEye, ReceiverDutyCycleJitterNarrowsTheEyeByItsPeakToPeak) {
    // even bits sampled a quarter UI late, odd bits a quarter UI early: the eye of held
    // levels stays open over 1 - 2 * 0.25 UI
    auto bits = prbsBits(3000);
    TdEyeOptions o = options();
    o.jitter.dcd = 0.25 * kBit;
    TdEyeResult r = feed(bits, waveform(bits, 0), false, o);
    EXPECT_NEAR(r.eyeWidth, 0.5, 1.5 / kSpb);
    EXPECT_NEAR(r.eyeHeight, 0.6, 1e-12);
}

TEST(TdEye, ExtrapolatedBathtubFollowsGaussianNoise) {
    // +-0.3 V levels with Gaussian noise of 0.06 V rms: at the sampling point the error ratio
    // is Q(0.3 / 0.06) = Q(5) = 2.9e-7, far below what 6000 bits can count
    auto bits = prbsBits(6000);
    std::vector<double> w(bits.size() * kSpb);
    std::uint64_t state = 12345;
    auto gauss = [&] {
        auto u = [&] {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            return (static_cast<double>(state >> 11) + 0.5) / 9007199254740992.0;
        };
        return std::sqrt(-2 * std::log(u())) * std::cos(2 * M_PI * u());
    };
    for (std::size_t k = 0; k < bits.size(); ++k) {
        const double v = (bits[k] ? 0.3 : -0.3) + 0.06 * gauss();
        for (int i = 0; i < kSpb; ++i) w[k * kSpb + static_cast<std::size_t>(i)] = v;
    }
    TdEyeOptions o = options();
    o.levelRange = 0.8;
    const TdEyeResult r = feed(bits, w, false, o);
    const std::size_t centre = static_cast<std::size_t>(kSpb);  // phase 0
    ASSERT_NEAR(r.phaseUi[centre], 0.0, 1e-12);
    EXPECT_EQ(r.berCounted[centre], 0.0);
    const double hand = 0.5 * std::erfc(5 / std::sqrt(2.0));
    EXPECT_NEAR(std::log10(r.berExtrapolated[centre]), std::log10(hand), 0.7);
}

TEST(TdEye, ClosedEyeReportsZeroHeight) {
    auto bits = prbsBits(3000);
    std::vector<double> w = waveform(bits, 0);
    for (std::size_t i = 0; i < w.size(); i += 97) w[i] = -w[i];  // scattered wrong samples
    TdEyeResult r = feed(bits, w, false);
    EXPECT_EQ(r.eyeHeight, 0.0);
    EXPECT_LT(r.opening, 0.0);
}
