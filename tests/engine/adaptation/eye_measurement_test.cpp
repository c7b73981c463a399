#include "engine/adaptation/eye_measurement.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

using Vec = std::vector<double>;
constexpr int kSpb = 32;

std::vector<int> randomSymbols(std::size_t bits, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<int> s(bits);
    for (int& v : s) v = (rng() & 1) ? 1 : -1;
    return s;
}

// Flat levels +-a, except phase 0, which is the mean of the previous and the present symbol: a
// transition crosses zero exactly at phase 0 of the bit.
Vec stepEye(const std::vector<int>& symbols, double a) {
    Vec x;
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        const int previous = symbols[(i + symbols.size() - 1) % symbols.size()];
        x.push_back(0.5 * (previous + symbols[i]) * a);
        x.insert(x.end(), kSpb - 1, symbols[i] * a);
    }
    return x;
}

// Level -a, then a transition at every bit k, at position k * spb + phases[k % size]: the two
// samples around each crossing lie on a straight line through zero there, so the crossing
// position computed from them is exact.
Vec crossingsAt(const Vec& phases, std::size_t bits, double a) {
    const double slope = 0.1;
    Vec x(bits * kSpb);
    std::vector<double> at(bits);
    for (std::size_t k = 0; k < bits; ++k) at[k] = k * kSpb + phases[k % phases.size()];
    std::size_t k = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        while (k < bits && at[k] < i) ++k;
        x[i] = (k % 2 == 0) ? -a : a;
    }
    for (k = 0; k < bits; ++k) {
        const auto i0 = static_cast<std::size_t>(std::floor(at[k]));
        const double direction = (k % 2 == 0) ? 1.0 : -1.0;
        x[i0] = direction * slope * (i0 - at[k]);
        if (i0 + 1 < x.size()) x[i0 + 1] = direction * slope * (i0 + 1 - at[k]);
    }
    return x;
}

TEST(PhaseFigure, ComparesTheDistanceOfTheTwoLevelsWithTheirSpread) {
    // Lower half all in bin 0; upper half split between its bins 0 and 49: mean 24.5, variance
    // 600.25. d = 74.5, S = 2 * 37.25^2, N = 600.25 / 2.
    const HalfMoments lower{10, 0, 0};
    const HalfMoments upper{10, 5 * 49, 5 * 49 * 49};
    EXPECT_NEAR(PhaseFigure(lower, upper), 10 * std::log10(2 * 37.25 * 37.25 / 300.125), 1e-12);
    // Two clean levels: no spread, the figure is 100.
    EXPECT_EQ(PhaseFigure({10, 0, 0}, {10, 490, 24010}), 100.0);
    // An empty half counts as mean 1 without spread.
    const HalfMoments spread{4, 2 * 3, 2 * 9};  // bins 0 and 3: mean 1.5, variance 2.25
    EXPECT_NEAR(PhaseFigure({}, spread),
                10 * std::log10(2 * std::pow((50 + 1.5 - 1) / 2, 2) / (0.5 * 2.25)), 1e-12);
}

TEST(MeasureEye, OpenEyeWithCrossingsAtOnePhase) {
    const double a = 0.4;
    const Vec x = stepEye(randomSymbols(256, 1), a);
    const EyeMetrics m = MeasureEye(x, 256, kSpb, 0);
    // Every crossing folds to phase 0: one bin of 127 occupied, 126 empty.
    EXPECT_DOUBLE_EQ(m.dj, 1.0 - 126.0 / 128);
    // Phase 0 mixes -a, 0 and +a, every other phase is a clean pair of levels: the worst phase
    // is 0 and the eye is sampled half a unit interval later.
    EXPECT_EQ(m.samplingPhase, kSpb / 2);
    EXPECT_DOUBLE_EQ(m.vheight, 2 * a);
}

TEST(MeasureEye, ClosureIsTheLongestEmptyStretchAroundTheUnitInterval) {
    // Crossings at 10.1 and 12.3 samples: bins 40 and 49 of width 0.25. The longest empty run
    // goes round the end: bins 50..126 and 0..39, 117 bins.
    EXPECT_DOUBLE_EQ(MeasureEye(crossingsAt({10.1, 12.3}, 64, 0.3), 64, kSpb, 0).dj,
                     1.0 - 117.0 / 128);
    // Spread over bins 4..11: 119 bins stay empty.
    EXPECT_DOUBLE_EQ(MeasureEye(crossingsAt({1.1, 1.6, 2.2, 2.9}, 64, 0.3), 64, kSpb, 0).dj,
                     1.0 - 119.0 / 128);
    // No crossing at all: fully closed by definition.
    EXPECT_EQ(MeasureEye(Vec(64 * kSpb, 0.3), 64, kSpb, 0).dj, 1.0);
    // Crossings only in the last 1/128 of the unit interval, beyond the last bin edge: every bin
    // is empty, and the run is one full turn, not the doubled list's two.
    EXPECT_DOUBLE_EQ(MeasureEye(crossingsAt({31.9}, 64, 0.3), 64, kSpb, 0).dj, 1.0 - 127.0 / 128);
}

TEST(MeasureEye, SamplesHalfAUnitIntervalAfterTheWorstPhase) {
    const double a = 0.3;
    const std::vector<int> symbols = randomSymbols(512, 5);
    Vec x;
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        for (int p = 0; p < kSpb; ++p) {
            double v = symbols[i] * a;
            // Phase 20 is disturbed most, phase 3 a little.
            if (p == 20) v += 0.1 * std::sin(0.7 * i);
            if (p == 3) v += 0.02 * std::sin(1.3 * i);
            x.push_back(v);
        }
    }
    const EyeMetrics m = MeasureEye(x, 512, kSpb, 0);
    EXPECT_EQ(m.samplingPhase, (20 + kSpb / 2) % kSpb);
    EXPECT_DOUBLE_EQ(m.vheight, 2 * a);
    EXPECT_EQ(m.dj, 1.0 - 126.0 / 128);  // the flat levels switch between phases 31 and 0
}

TEST(MeasureEye, HeightIsTheGapBetweenTheInnermostLevels) {
    // At the sampling phase a one is at least a - 0.05 high and a zero at most -a + 0.08.
    const double a = 0.25;
    std::vector<int> symbols = randomSymbols(300, 9);
    Vec x = stepEye(symbols, a);
    for (std::size_t i = 0; i < symbols.size(); i += 7) x[i * kSpb + kSpb / 2] -= 0.05 * symbols[i];
    x[11 * kSpb + kSpb / 2] = symbols[11] > 0 ? a : -a + 0.08;
    x[12 * kSpb + kSpb / 2] = symbols[12] > 0 ? a : -a + 0.08;
    const EyeMetrics m = MeasureEye(x, 300, kSpb, 0);
    ASSERT_EQ(m.samplingPhase, kSpb / 2);
    EXPECT_NEAR(m.vheight, (a - 0.05) - (-a + 0.08), 1e-15);
    // Only one level present: no eye to measure.
    EXPECT_EQ(EyeMeter::Height(Vec(10 * kSpb, 0.2), kSpb, 3), 0.0);
}

TEST(MeasureEye, ReadsOnlyTheLastBitsBeforeTheTail) {
    const Vec clean = stepEye(randomSymbols(128, 3), 0.4);
    const EyeMetrics reference = MeasureEye(clean, 128, kSpb, 0);
    Vec noisy;
    std::mt19937 rng(4);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int i = 0; i < 40 * kSpb; ++i) noisy.push_back(u(rng));  // before the window
    noisy.insert(noisy.end(), clean.begin(), clean.end());
    for (int i = 0; i < 77; ++i) noisy.push_back(i % 2 ? NAN : 5.0);  // the tail
    const EyeMetrics m = MeasureEye(noisy, 128, kSpb, 77);
    EXPECT_EQ(m.dj, reference.dj);
    EXPECT_EQ(m.vheight, reference.vheight);
    EXPECT_EQ(m.samplingPhase, reference.samplingPhase);

    // A non-finite sample inside the window: an eye that never qualifies.
    Vec broken = clean;
    broken[1000] = NAN;
    const EyeMetrics b = MeasureEye(broken, 128, kSpb, 0);
    EXPECT_EQ(b.dj, 1.0);
    EXPECT_EQ(b.vheight, 0.0);

    for (const EyeMetrics& e : {MeasureEye({}, 16, kSpb, 0), MeasureEye(clean, 16, 0, 0),
                                MeasureEye(clean, 16, kSpb, clean.size() + 5)}) {
        EXPECT_EQ(e.dj, 1.0);
        EXPECT_EQ(e.vheight, 0.0);
    }
    // Less than one bit: no phase can be found; the first sample is the one sampled.
    EyeMeter meter;
    EXPECT_EQ(meter.SamplingPhase(Vec{0.1, -0.2}, kSpb), -1);
    EXPECT_EQ(MeasureEye(Vec{0.1, -0.2, 0.3}, 1, kSpb, 0).vheight, 0.0);
}

// The sampling phase from full 100-bin histograms, written out as the definition reads.
int literalSamplingPhase(const Vec& x, int spb) {
    const std::size_t rows = x.size() / spb;
    int worst = 0;
    double worstFigure = INFINITY;
    for (int p = 0; p < spb; ++p) {
        double lo = INFINITY, hi = -INFINITY;
        for (std::size_t r = 0; r < rows; ++r) {
            lo = std::min(lo, x[r * spb + p]);
            hi = std::max(hi, x[r * spb + p]);
        }
        std::vector<double> h(100, 0.0);
        for (std::size_t r = 0; r < rows; ++r) {
            int bin = hi > lo ? static_cast<int>((x[r * spb + p] - lo) / (hi - lo) * 100) : 0;
            h[std::min(bin, 99)] += 1;
        }
        double mean[2], var[2];
        for (int half = 0; half < 2; ++half) {
            double total = 0;
            for (int i = 0; i < 50; ++i) total += h[50 * half + i];
            mean[half] = 1.0;
            var[half] = 0.0;
            if (total == 0) continue;
            mean[half] = 0;
            for (int i = 0; i < 50; ++i) mean[half] += i * h[50 * half + i] / total;
            var[half] = 0;
            for (int i = 0; i < 50; ++i) {
                var[half] += (i - mean[half]) * (i - mean[half]) * h[50 * half + i] / total;
            }
        }
        const double d = (50 + mean[1]) - mean[0];
        const double s = (d * 0.5) * (d * 0.5) + (d * 0.5) * (d * 0.5);
        const double n = 0.5 * var[0] + 0.5 * var[1];
        const double figure = n > 0 ? 10 * std::log10(s / n) : 100;
        if (figure < worstFigure) {
            worstFigure = figure;
            worst = p;
        }
    }
    return (worst + spb / 2) % spb;
}

TEST(MeasureEye, SamplingPhaseAgreesWithFullHistogramsOnNoisyEyes) {
    std::mt19937 rng(21);
    std::normal_distribution<double> noise(0.0, 1.0);
    EyeMeter meter;
    for (int trial = 0; trial < 40; ++trial) {
        const int spb = 8 + trial % 9;
        const std::vector<int> symbols = randomSymbols(300, 100 + trial);
        const double isi = 0.05 * (trial % 7);
        const double sigma = 0.005 + 0.01 * (trial % 5);
        const int shift = trial % spb;
        Vec x;
        for (std::size_t i = 0; i < symbols.size(); ++i) {
            for (int p = 0; p < spb; ++p) {
                // Raised-cosine transitions centred on phase `shift`, some ISI and noise.
                const double t = static_cast<double>((p - shift + spb) % spb) / spb;
                const int from =
                    symbols[(i + symbols.size() - (p < shift ? 1 : 0)) % symbols.size()];
                const int to = symbols[(i + (p < shift ? 0 : 1)) % symbols.size()];
                const double w = 0.5 - 0.5 * std::cos(std::numbers::pi * t);
                x.push_back(0.3 * ((1 - w) * from + w * to) + isi * 0.1 * symbols[(i + 3) % 300] +
                            sigma * noise(rng));
            }
        }
        ASSERT_EQ(meter.SamplingPhase(x, spb), literalSamplingPhase(x, spb)) << "trial " << trial;
    }
}

}  // namespace
