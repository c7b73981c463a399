// The transmitter's input with its edges moved by the jitter.
#include "amisim/eye/stimulus.hpp"

#include <gtest/gtest.h>

#include <cmath>

using namespace amisim;

namespace {
constexpr int kSpb = 16;
constexpr double kDt = 1e-12;

}  // namespace

TEST(Stimulus, WithoutJitterEachBitHoldsItsLevel) {
    const std::vector<bool> bits{true, false, false, true, true, false};
    NrzStimulus s(bits, kSpb, kDt, 0.5, EdgeJitter{}, 1);
    std::vector<double> a, b;
    s.next(4, a);
    s.next(2, b);
    a.insert(a.end(), b.begin(), b.end());
    ASSERT_EQ(a.size(), bits.size() * kSpb);
    for (std::size_t i = 0; i < a.size(); ++i) ASSERT_EQ(a[i], bits[i / kSpb] ? 0.5 : -0.5) << i;
}

TEST(Stimulus, DutyCycleDistortionMovesRisingEdgesLateAndFallingEdgesEarly) {
    // 0 1 0 1 ...: a rising edge at every even bit boundary, a falling one at every odd one
    std::vector<bool> bits(40);
    for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = i % 2 == 1;
    EdgeJitter j;
    j.dcd = 0.3 * kDt;  // three tenths of a sample
    NrzStimulus s(bits, kSpb, kDt, 0.5, j, 1);
    std::vector<double> w;
    s.next(bits.size(), w);
    for (std::size_t k = 1; k + 1 < bits.size(); ++k) {
        const std::size_t edge = k * kSpb;
        const double moved = bits[k] ? 0.3 : -0.3;  // samples
        // the sample the edge falls into holds the two levels in proportion
        const std::size_t at = moved > 0 ? edge : edge - 1;
        const double newShare = moved > 0 ? 1 - moved : -moved;  // of that sample after the edge
        const double expected =
            (bits[k] ? 0.5 : -0.5) * newShare + (bits[k] ? -0.5 : 0.5) * (1 - newShare);
        ASSERT_NEAR(w[at], expected, 1e-12) << "edge " << k;
    }
}

TEST(Stimulus, DeterministicJitterMovesEveryEdgeByItsDiracOffset) {
    std::vector<bool> bits(2000);
    for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = (i / 3) % 2 == 0;
    EdgeJitter j;
    j.dj = 0.25 * kDt;
    NrzStimulus s(bits, kSpb, kDt, 0.5, j, 7);
    std::vector<double> w;
    s.next(bits.size(), w);
    int late = 0, early = 0;
    for (std::size_t k = 1; k < bits.size(); ++k) {
        if (bits[k] == bits[k - 1]) continue;
        const std::size_t edge = k * kSpb;
        const double level = bits[k] ? 0.5 : -0.5;
        // late: the first sample of the new bit is a 75/25 mix; early: the last of the old one
        if (std::abs(w[edge] - level) > 1e-12) {
            EXPECT_NEAR(w[edge], 0.75 * level - 0.25 * level, 1e-12);
            EXPECT_EQ(w[edge - 1], -level);
            ++late;
        } else {
            EXPECT_NEAR(w[edge - 1], 0.75 * -level + 0.25 * level, 1e-12);
            ++early;
        }
    }
    // the two Diracs are drawn about equally often
    EXPECT_NEAR(static_cast<double>(late) / (late + early), 0.5, 0.08);
}
