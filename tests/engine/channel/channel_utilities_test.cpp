#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

#include "engine/channel/channel_data_error.hpp"
#include "engine/channel/channel_response.hpp"
#include "engine/fft/fft_service.hpp"
#include "engine/channel/numeric_tools.hpp"
#include "engine/channel/s_parameter_table.hpp"

namespace {

using Vec = std::vector<double>;
constexpr double kPi = std::numbers::pi;

Vec randomSignal(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Vec v(n);
    for (double& x : v) x = u(rng);
    return v;
}

ComplexBuffer spectrumOf(const Vec& x) {
    ComplexBuffer s;
    RealForward(s, x);
    return s;
}

TEST(SParameterTable, ThroughChannelCarriesTheInsertionLossOnBothPairsOnly) {
    const SParameterTable t = MakeS4PFromSdd21({1e9, 2e9, 3e9}, {-1, -2, -3}, {-10, -20, -30});
    EXPECT_EQ(t.name, "S4P_from_Sdd21");
    EXPECT_EQ(t.ports, 4);
    EXPECT_EQ(t.points, 3);
    EXPECT_EQ(t.columns, 33);
    ASSERT_EQ(t.rows.size(), 3u);
    for (std::size_t r = 0; r < 3; ++r) {
        const Vec& row = t.rows[r];
        ASSERT_EQ(row.size(), 33u);
        EXPECT_EQ(row[0], (r + 1) * 1e9);
        for (int i = 1; i <= 4; ++i) {
            for (int j = 1; j <= 4; ++j) {
                const int c = 1 + 2 * (4 * (i - 1) + (j - 1));
                const bool through = (i == 1 && j == 2) || (i == 2 && j == 1) ||
                                     (i == 3 && j == 4) || (i == 4 && j == 3);
                EXPECT_EQ(row[c], through ? -1.0 * (r + 1) : -400.0) << "S" << i << j;
                EXPECT_EQ(row[c + 1], through ? -10.0 * (r + 1) : 0.0) << "S" << i << j;
            }
        }
    }
    // S21 is the pair of columns 9 and 10 that ChannelToImpulse reads.
    EXPECT_EQ(SParameterMagnitudeColumn(2, 1), 9);
    EXPECT_THROW(MakeS4PFromSdd21({1e9, 2e9}, {0}, {0, 0}), ChannelDataError);
    EXPECT_TRUE(MakeS4PFromSdd21({}, {}, {}).rows.empty());
}

TEST(SParameterTable, TakeColumnsScalesPicksAndRejectsColumnsOutsideTheRows) {
    SParameterTable t;
    t.name = "small";
    t.rows = {{1, 2, 3}, {4, 5, 6}};
    EXPECT_EQ(TakeColumns(t, {2, 0}, 2.0), (std::vector<Vec>{{6, 2}, {12, 8}}));
    EXPECT_EQ(TakeColumns(t, {}, 1.0), t.rows);  // empty list: every column, in order
    EXPECT_EQ(TakeColumn(t, 1, -1.0), (Vec{-2, -5}));
    EXPECT_THROW(TakeColumns(t, {3}, 1.0), ChannelDataError);
    EXPECT_THROW(TakeColumn(t, -1, 1.0), ChannelDataError);
    EXPECT_TRUE(TakeColumns(SParameterTable{}, {}, 1.0).empty());
}

TEST(ChannelResponse, LimitAmplitudeCapsOnlyAboveTheLastDataPoint) {
    const Vec dataF{1, 2, 3};
    const Vec dataA{-1, -2, -3};
    Vec inside{-1, 0, 5};
    LimitAmplitude(dataF, {1, 2, 3}, dataA, inside);
    EXPECT_EQ(inside, (Vec{-1, 0, 5}));  // no grid point above 3: nothing changes

    Vec beyond{0, 0, 0, -2, -4};
    LimitAmplitude(dataF, {2, 3, 4, 5, 6}, dataA, beyond);
    EXPECT_EQ(beyond, (Vec{0, 0, -3, -3, -4}));  // 2 and 3 are not above; -4 is already lower

    Vec untouched{1, 2};
    LimitAmplitude({}, {5, 6}, {}, untouched);
    EXPECT_EQ(untouched, (Vec{1, 2}));
}

TEST(ChannelResponse, UnwrapPhaseRemovesJumpsOfTwoPi) {
    const Vec out = UnwrapPhase({0.0, 3.0, -3.0}, kPi);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_DOUBLE_EQ(out[0], 0.0);
    EXPECT_DOUBLE_EQ(out[1], 3.0);
    EXPECT_NEAR(out[2], 2 * kPi - 3.0, 1e-12);

    // A steadily falling phase (a delay), wrapped into (-pi, pi], comes back as the ramp.
    Vec ramp(50), wrapped(50);
    for (std::size_t k = 0; k < ramp.size(); ++k) {
        ramp[k] = -0.9 * static_cast<double>(k);
        wrapped[k] = std::atan2(std::sin(ramp[k]), std::cos(ramp[k]));
    }
    const Vec unwrapped = UnwrapPhase(wrapped, kPi);
    for (std::size_t k = 0; k < ramp.size(); ++k) EXPECT_NEAR(unwrapped[k], ramp[k], 1e-9) << k;

    // A step of exactly +pi is kept as +pi, not turned into -pi.
    EXPECT_DOUBLE_EQ(UnwrapPhase({0.0, kPi}, kPi)[1], kPi);
    EXPECT_TRUE(UnwrapPhase({}, kPi).empty());
}

TEST(ChannelResponse, ToComplexTakesDecibelsAndDegrees) {
    const auto z = ToComplex({0.0, -20.0, 20 * std::log10(2.0)}, {90.0, 180.0, 0.0});
    ASSERT_EQ(z.size(), 3u);
    EXPECT_NEAR(z[0].real(), 0.0, 1e-15);
    EXPECT_NEAR(z[0].imag(), 1.0, 1e-15);
    EXPECT_NEAR(z[1].real(), -0.1, 1e-15);
    EXPECT_NEAR(z[1].imag(), 0.0, 1e-15);
    EXPECT_NEAR(z[2].real(), 2.0, 1e-14);
    EXPECT_THROW(ToComplex({0.0}, {}), ChannelDataError);
}

TEST(ChannelResponse, ResampleResponseInterpolatesUnwrapsAndLimits) {
    // Magnitude rising by 1 dB per GHz up to 3 GHz; the phase falls by 100 degrees per GHz and is
    // stored wrapped into (-180, 180].
    const std::vector<Vec> table = {{0e9, -3, 0}, {1e9, -2, -100}, {2e9, -1, 160}, {3e9, 0, 60}};
    const ResampledResponse r = ResampleResponse(table, {0.5e9, 2.5e9, 4e9, 5e9});
    ASSERT_EQ(r.magnitudesDb.size(), 4u);
    EXPECT_NEAR(r.magnitudesDb[0], -2.5, 1e-12);
    EXPECT_NEAR(r.magnitudesDb[1], -0.5, 1e-12);
    // Beyond 3 GHz the extrapolated magnitude would keep rising: it stays at the last value.
    EXPECT_NEAR(r.magnitudesDb[2], 0.0, 1e-12);
    EXPECT_NEAR(r.magnitudesDb[3], 0.0, 1e-12);
    const double degToRad = kPi / 180;
    EXPECT_NEAR(r.phasesRad[0], -50 * degToRad, 1e-12);
    EXPECT_NEAR(r.phasesRad[1], -250 * degToRad, 1e-12);
    EXPECT_NEAR(r.phasesRad[3], -500 * degToRad, 1e-12);  // the phase keeps its slope

    EXPECT_THROW(ResampleResponse({{1e9, 0, 0}}, {1e9}), ChannelDataError);
    EXPECT_THROW(ResampleResponse({{2e9, 0, 0}, {1e9, 0, 0}}, {1e9}), ChannelDataError);
    EXPECT_THROW(ResampleResponse({{1e9, 0, 0}, {2e9, NAN, 0}}, {1e9}), ChannelDataError);
    EXPECT_TRUE(ResampleResponse({}, {1e9}).magnitudesDb.empty());
}

// A flat channel with a linear phase is a pure delay: applied to a signal it must shift it by
// whole samples around the period.
TEST(ChannelResponse, ChannelToImpulseOfADelayShiftsTheSignal) {
    const double dt = 1e-12;
    const int delay = 5;
    Vec f, mag, phase;
    for (int k = 0; k <= 40; ++k) {
        const double freq = k * 5e9;
        f.push_back(freq);
        mag.push_back(0.0);
        const double deg = -360.0 * freq * delay * dt;
        phase.push_back(std::remainder(deg, 360.0));  // stored wrapped, as tables are
    }
    const SParameterTable table = MakeS4PFromSdd21(f, mag, phase);
    for (std::size_t n : {64u, 63u}) {
        const Vec x = randomSignal(n, 7);
        const Vec y = ChannelToImpulse(spectrumOf(x), dt, kChannelSdd21, table);
        ASSERT_EQ(y.size(), n);
        for (std::size_t j = 0; j < n; ++j) {
            EXPECT_NEAR(y[(j + delay) % n], x[j], 1e-12) << "n " << n << " j " << j;
        }
    }
    const Vec x = randomSignal(16, 3);
    const Vec ideal = ChannelToImpulse(spectrumOf(x), dt, kChannelIdeal, SParameterTable{});
    for (std::size_t j = 0; j < x.size(); ++j) EXPECT_NEAR(ideal[j], x[j], 1e-14);

    EXPECT_THROW(ChannelToImpulse(spectrumOf(x), dt, "Sdd12", table), ChannelDataError);
    EXPECT_THROW(ChannelToImpulse(spectrumOf(x), dt, kChannelSdd21, SParameterTable{}),
                 ChannelDataError);
    EXPECT_TRUE(ChannelToImpulse(ComplexBuffer{}, dt, kChannelSdd21, table).empty());
}

// The tabulated response of a sampled impulse, turned into a four-port table and applied to a
// signal, must give what convolving the signal with the impulse gives.
TEST(ChannelResponse, TabulatedImpulseAppliedToASignalMatchesTheConvolution) {
    const double dt = 1.0 / (10e9 * 32);  // 10 Gb/s, 32 samples per bit
    const std::size_t m = 512;
    Vec h(m, 0.0);  // Gaussian pulse of unit area, sigma 20 ps, 100 ps late
    const double sigma = 20e-12;
    for (std::size_t j = 0; j < m; ++j) {
        const double t = static_cast<double>(j) * dt - 100e-12;
        h[j] = std::exp(-0.5 * t * t / (sigma * sigma)) / (sigma * std::sqrt(2 * kPi));
    }
    const TabulatedResponse table = ImpulseResponseTable(h, dt, 5e10);
    ASSERT_FALSE(table.frequencies.empty());
    EXPECT_LE(table.frequencies.back(), 5e10);
    EXPECT_NEAR(table.magnitudesDb.front(), 0.0, 1e-4);  // unit area: 0 dB at 0 Hz

    const std::size_t n = 2048;
    const Vec x = randomSignal(n, 11);
    const Vec y =
        ChannelToImpulse(spectrumOf(x), dt, kChannelSdd21,
                         MakeS4PFromSdd21(table.frequencies, table.magnitudesDb, table.phasesDeg));
    double worst = 0;
    for (std::size_t i = 0; i < n; ++i) {
        double direct = 0;
        for (std::size_t j = 0; j < m; ++j) direct += h[j] * x[(i + n - j) % n] * dt;
        worst = std::max(worst, std::abs(y[i] - direct));
    }
    EXPECT_LT(worst, 1e-3);  // linear interpolation of the coarser tabulated grid
}

TEST(NumericTools, EvaluatePolynomialBuildsPowersInOrder) {
    EXPECT_EQ(EvaluatePolynomial({1, 2, 3}, 2.0), 17.0);
    EXPECT_EQ(EvaluatePolynomial({}, 2.0), 0.0);
    Vec xs{0, 1, -1};
    EvaluatePolynomial({1, 2, 3}, xs);
    EXPECT_EQ(xs, (Vec{1, 6, 2}));
    // A tiny high-order coefficient at a large abscissa: 1e-300 * (1e200)^2 = 1e100, although
    // the power alone would overflow.
    EXPECT_DOUBLE_EQ(EvaluatePolynomial({0, 0, 1e-300}, 1e200), 1e100);
}

TEST(NumericTools, InterpolateClampedHoldsTheEndValuesInBothDirections) {
    const Vec up{0, 1, 3};
    const Vec ys{10, 20, 40};
    EXPECT_EQ(InterpolateClamped(up, ys, 1.0), 20.0);
    EXPECT_EQ(InterpolateClamped(up, ys, 2.0), 30.0);
    EXPECT_EQ(InterpolateClamped(up, ys, -5.0), 10.0);
    EXPECT_EQ(InterpolateClamped(up, ys, 7.0), 40.0);

    const Vec down{3, 1, 0};
    EXPECT_EQ(InterpolateClamped(down, ys, 2.0), 15.0);
    EXPECT_EQ(InterpolateClamped(down, ys, 0.5), 30.0);
    EXPECT_EQ(InterpolateClamped(down, ys, -5.0), 40.0);  // below a descending table: last
    EXPECT_EQ(InterpolateClamped(down, ys, 9.0), 10.0);   // above it: first

    EXPECT_EQ(InterpolateClamped({2}, {5}, 100.0), 5.0);
    EXPECT_THROW(InterpolateClamped({}, {}, 1.0), ChannelDataError);
    EXPECT_THROW(InterpolateClamped({1, 2}, {1}, 1.0), ChannelDataError);
}

}  // namespace
