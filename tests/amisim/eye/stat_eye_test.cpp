#include "amisim/eye/stat_eye.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

using namespace amisim;

namespace {
constexpr int kSpb = 32;
constexpr double kDt = 1e-12;

// Pulse of an ideal channel: the impulse is one sample of area 1.
PulseResponse idealPulse() {
    std::vector<double> impulse(64 * kSpb, 0.0);
    impulse[0] = 1 / kDt;
    return makePulse(impulse, kDt, kSpb, 0.5);
}
}  // namespace

TEST(Pulse, IdealChannelGivesOneBitRectangle) {
    PulseResponse p = idealPulse();
    EXPECT_DOUBLE_EQ(p.samples[0], 0.5);
    EXPECT_DOUBLE_EQ(p.samples[kSpb - 1], 0.5);
    EXPECT_DOUBLE_EQ(p.samples[kSpb], 0.0);
    EXPECT_EQ(p.mainIndex, 15u);  // middle of the flat top
}

TEST(StatEye, IdealChannelOpensTwiceTheMainCursorOverOneUi) {
    StatEyeResult r = computeStatEye(idealPulse(), StatEyeOptions{});
    EXPECT_NEAR(r.eyeHeight, 1.0, 2e-3);
    EXPECT_NEAR(r.eyeWidth, 1.0, 1.5 / 64);
}

TEST(StatEye, InterferenceComesOffTheWorstCase) {
    // main cursor 0.4 V, post-cursors 0.1 V and -0.05 V: at a BER far below 1/4 the inner
    // eye is 2 * (0.4 - 0.1 - 0.05) = 0.5 V
    PulseResponse p;
    p.samplesPerBit = 4;
    p.sampleInterval = kDt;
    p.samples.assign(40, 0.0);
    p.samples[8] = 0.4;
    p.samples[12] = 0.1;
    p.samples[16] = -0.05;
    p.mainIndex = 8;
    StatEyeResult r = computeStatEye(p, StatEyeOptions{});
    EXPECT_NEAR(r.eyeHeight, 0.5, 2e-3);
    EXPECT_NEAR(r.bestPhaseUi, 0.0, 1e-9);
    // the same eye seen by a latch that needs 50 mV either side
    StatEyeOptions o;
    o.sensitivity = 0.05;
    r = computeStatEye(p, o);
    EXPECT_NEAR(r.eyeHeight, 0.4, 2e-3);
    EXPECT_NEAR(r.rawEyeHeight, 0.5, 2e-3);
}

TEST(StatEye, DualDiracJitterNarrowsTheEyeByItsPeakToPeak) {
    StatEyeOptions o;
    o.jitter.djPp = 0.25 * kSpb * kDt;
    StatEyeResult r = computeStatEye(idealPulse(), o);
    EXPECT_NEAR(r.eyeHeight, 1.0, 2e-3);
    EXPECT_NEAR(r.eyeWidth, 0.75, 2.0 / 64);
}

TEST(StatEye, RandomJitterClosesTheEdgesAtTheTargetBer) {
    // Beyond an edge the neighbour bit decides half the time: 0.5 * Q(d / sigma) = 1e-12
    // gives d = 6.93 sigma from each edge; sigma = 0.02 UI leaves 1 - 2 * 0.139 = 0.72 UI.
    StatEyeOptions o;
    o.jitter.rjRms = 0.02 * kSpb * kDt;
    StatEyeResult r = computeStatEye(idealPulse(), o);
    EXPECT_NEAR(r.eyeWidth, 0.72, 0.04);
    EXPECT_NEAR(r.eyeHeight, 1.0, 2e-3);
    o.ber = 1e-3;  // 0.5 * Q(d) = 1e-3: d = 2.88 sigma, width 1 - 0.115
    r = computeStatEye(idealPulse(), o);
    EXPECT_NEAR(r.eyeWidth, 0.885, 0.04);
}

TEST(StatEye, ClosedEyeHasNoHeightOrWidth) {
    PulseResponse p;
    p.samplesPerBit = 4;
    p.sampleInterval = kDt;
    p.samples.assign(40, 0.0);
    // main cursor 0.2 V against 0.15 + 0.1 V of interference, held over each bit
    for (int i = 0; i < 4; ++i) {
        p.samples[static_cast<std::size_t>(8 + i)] = 0.2;
        p.samples[static_cast<std::size_t>(12 + i)] = 0.15;
        p.samples[static_cast<std::size_t>(16 + i)] = 0.1;
    }
    p.mainIndex = 9;
    StatEyeResult r = computeStatEye(p, StatEyeOptions{});
    EXPECT_EQ(r.eyeHeight, 0.0);
    EXPECT_EQ(r.eyeWidth, 0.0);
    EXPECT_LT(r.rawEyeHeight, 0.0);
    StatEyeOptions bad;
    bad.ber = 0.0;
    EXPECT_THROW(computeStatEye(p, bad), std::invalid_argument);
}

namespace {
double qf(double x) { return 0.5 * std::erfc(x / std::sqrt(2.0)); }
}  // namespace

TEST(StatEye, BathtubOfDualDiracAndGaussianJitterMatchesTheHandFormula) {
    // An ideal channel: a "1" sampled within its own bit is right; sampled in a neighbour's
    // time it is that neighbour's level, wrong half the time. With sampling offsets tau =
    // Gaussian(sigma) + (+-D), at x from the bit centre:
    //   BER(x) = 1/2 (P(x + tau > T/2) + P(x + tau < -T/2)),
    //   P(x + tau > T/2) = 1/2 Q((T/2 - x - D)/sigma) + 1/2 Q((T/2 - x + D)/sigma).
    // D lies on the phase grid (64 steps a UI): a Dirac between grid steps is shared between
    // its neighbours, which moves part of it outwards by up to a step
    const double T = kSpb * kDt, sigma = 0.04 * T, D = 6.0 / 64 * T;
    StatEyeOptions o;
    o.jitter.rjRms = sigma;
    o.jitter.djPp = 2 * D;
    const StatEyeResult r = computeStatEye(idealPulse(), o);
    ASSERT_EQ(r.bathtub.size(), r.phaseUi.size());
    int compared = 0;
    for (std::size_t i = 0; i < r.phaseUi.size(); ++i) {
        // the main cursor (sample 15) sits half a sample before the centre of the bit (15.5)
        const double x = r.phaseUi[i] * T - 0.5 * kDt;
        auto beyond = [&](double edge) {
            return 0.5 * qf((edge - D) / sigma) + 0.5 * qf((edge + D) / sigma);
        };
        const double hand = 0.5 * (beyond(T / 2 - x) + beyond(T / 2 + x));
        if (hand < 1e-14 || hand > 0.2) continue;
        // the jitter is binned at 1/64 UI with each bin's mass at its centre: a little
        // pessimism that grows into the far tail
        EXPECT_NEAR(std::log10(r.bathtub[i]), std::log10(hand), 0.4) << "phase " << r.phaseUi[i];
        ++compared;
    }
    EXPECT_GT(compared, 10);
    // in the middle the error ratio is far below anything measurable
    EXPECT_LT(r.bathtub[static_cast<std::size_t>(64)], 1e-30);
}

TEST(StatEye, ContoursNestAndAJitterBeyondTwoUnitIntervalsIsCut) {
    StatEyeOptions o;
    o.jitter.rjRms = 0.02 * kSpb * kDt;
    o.ber = 1e-15;
    const StatEyeResult r = computeStatEye(idealPulse(), o);
    // every third decade from 1e-3, then the target
    ASSERT_EQ(r.contours.size(), 5u);
    EXPECT_DOUBLE_EQ(r.contours.front().ber, 1e-3);
    EXPECT_DOUBLE_EQ(r.contours.back().ber, 1e-15);
    for (std::size_t k = 1; k < r.contours.size(); ++k)
        for (std::size_t i = 0; i < r.phaseUi.size(); ++i)
            EXPECT_GE(r.contours[k - 1].inner[i] + 1e-9, r.contours[k].inner[i]);
    // at the eye's centre every contour sits at the main cursor: no noise there
    for (const BerContour& c : r.contours) EXPECT_NEAR(c.inner[64], 0.5, 2e-3);

    // a jitter of a whole unit interval rms would span +-8 UI; it is cut at 2 UI and closes
    // the eye
    StatEyeOptions wild;
    wild.jitter.rjRms = kSpb * kDt;
    wild.voltageBins = 257;
    const StatEyeResult w = computeStatEye(idealPulse(), wild);
    EXPECT_TRUE(w.jitterCut);
    EXPECT_EQ(w.eyeHeight, 0.0);
    EXPECT_FALSE(r.jitterCut);
}

TEST(StatEye, TheFiguresAloneMatchTheFullEyeBitForBit) {
    // a lossy channel (a decaying exponential of 0.6 UI) with every kind of jitter: a tail
    // of small cursors, several large ones and a jitter mixture over many phases
    std::vector<double> impulse(80 * kSpb, 0.0);
    const double tau = 0.6 * kSpb * kDt;
    for (std::size_t i = 0; i < impulse.size(); ++i)
        impulse[i] = std::exp(-static_cast<double>(i) * kDt / tau) / tau;
    const PulseResponse p = makePulse(impulse, kDt, kSpb, 0.5);
    StatEyeOptions full;
    full.jitter = JitterBudget{0.5e-12, 2e-12, 1e-12};
    full.ber = 1e-12;
    full.sensitivity = 2e-3;
    StatEyeOptions figures = full;
    figures.figuresOnly = true;
    const StatEyeResult a = computeStatEye(p, full), b = computeStatEye(p, figures);
    ASSERT_GT(a.eyeHeight, 0);
    EXPECT_EQ(b.eyeHeight, a.eyeHeight);
    EXPECT_EQ(b.rawEyeHeight, a.rawEyeHeight);
    EXPECT_EQ(b.eyeWidth, a.eyeWidth);
    EXPECT_EQ(b.opening, a.opening);
    EXPECT_TRUE(b.density.empty());
    EXPECT_TRUE(b.contours.empty());
    // the full eye's own figures agree with its contour at the target BER
    ASSERT_FALSE(a.contours.empty());
    EXPECT_EQ(a.contours.back().ber, 1e-12);
    for (std::size_t i = 0; i < a.opening.size(); ++i)
        EXPECT_EQ(a.opening[i], 2 * a.contours.back().inner[i]);
}
