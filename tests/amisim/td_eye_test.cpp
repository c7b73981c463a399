#include "amisim/td_eye.hpp"

#include <gtest/gtest.h>

#include "amisim/prbs.hpp"

using namespace amisim;

namespace {
constexpr int kSpb = 32;
constexpr double kDt = 1e-12;
constexpr double kBit = kSpb * kDt;

std::vector<std::uint8_t> prbsBits(std::size_t n) {
    Prbs p(7);
    std::vector<std::uint8_t> b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(p.next());
    return b;
}

// Held levels 0.4 * b_k + 0.1 * b_(k-1) (b as +-1), delayed by `delayBits`.
std::vector<double> waveform(const std::vector<std::uint8_t>& bits, int delayBits) {
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

// Feeds the waveform in uneven blocks, with clock edges one bit apart when asked.
TdEyeResult feed(const std::vector<std::uint8_t>& bits, const std::vector<double>& w, bool clocks) {
    TdEye eye(bits, kSpb, kDt, 15, 100);
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
    EXPECT_EQ(r.sampledBits, 3000u - 100u);
    EXPECT_GT(r.pictureColumns, 0);
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

TEST(TdEye, ClosedEyeReportsZeroHeight) {
    auto bits = prbsBits(3000);
    std::vector<double> w = waveform(bits, 0);
    for (std::size_t i = 0; i < w.size(); i += 97) w[i] = -w[i];  // scattered wrong samples
    TdEyeResult r = feed(bits, w, false);
    EXPECT_EQ(r.eyeHeight, 0.0);
    EXPECT_LT(r.opening, 0.0);
}
