// The real-signal FFT wrapper on both engines against a direct sum, and FFTW planning from
// several threads at once.
#include "engine/fft/real_fft_plan.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <thread>
#include <vector>

#include "engine/fft/fft_service.hpp"
#include "random_signal.hpp"

namespace {

using enginetest::RandomSignal;

// X[k] = sum_j x[j] exp(-2 pi i jk/n) in long double, k = 0 .. n/2.
std::vector<std::complex<double>> DirectBins(const std::vector<double>& x) {
    const std::size_t n = x.size();
    const long double pi = 3.141592653589793238462643383279503L;
    std::vector<std::complex<double>> bins(n / 2 + 1);
    for (std::size_t k = 0; k < bins.size(); ++k) {
        std::complex<long double> sum = 0;
        for (std::size_t j = 0; j < n; ++j) {
            sum += static_cast<long double>(x[j]) *
                   std::polar(1.0L, -2 * pi * static_cast<long double>((j * k) % n) / n);
        }
        bins[k] = {static_cast<double>(sum.real()), static_cast<double>(sum.imag())};
    }
    return bins;
}

std::vector<std::complex<double>> Forward(const std::vector<double>& x, FftEngine engine) {
    RealFftPlan plan(x.size(), engine);
    RealFftBuffer buffer(x.size());
    std::copy(x.begin(), x.end(), buffer.Samples());
    plan.Forward(buffer);
    return {buffer.Bins(), buffer.Bins() + buffer.BinCount()};
}

}  // namespace

TEST(RealFftPlan, BothEnginesMatchTheDirectSumAndInvertUnscaled) {
    for (FftEngine engine : {FftEngine::Fftw, FftEngine::Gsl}) {
        for (std::size_t n : {1u, 2u, 15u, 16u, 96u, 1000u}) {
            const std::vector<double> x = RandomSignal(n, static_cast<unsigned>(n));
            const std::vector<std::complex<double>> got = Forward(x, engine);
            const std::vector<std::complex<double>> want = DirectBins(x);
            ASSERT_EQ(got.size(), want.size());
            for (std::size_t k = 0; k < got.size(); ++k) {
                EXPECT_NEAR(got[k].real(), want[k].real(), 1e-12 * n) << n << " bin " << k;
                EXPECT_NEAR(got[k].imag(), want[k].imag(), 1e-12 * n) << n << " bin " << k;
            }
            // The inverse leaves the 1/n to the caller.
            RealFftPlan plan(n, engine);
            RealFftBuffer buffer(n);
            std::copy(got.begin(), got.end(), buffer.Bins());
            plan.Inverse(buffer);
            for (std::size_t j = 0; j < n; ++j) {
                EXPECT_NEAR(buffer.Samples()[j], static_cast<double>(n) * x[j], 1e-12 * n) << j;
            }
        }
    }
}

TEST(RealFftPlan, InverseUsesOnlyTheRealPartsOfTheEndBins) {
    // A spectrum that no real signal has: imaginary parts at 0 Hz and at n/2. Both engines read
    // it as the conjugate-symmetric spectrum of a real signal, ignoring those two parts.
    const std::size_t n = 8;
    std::vector<std::complex<double>> bins{{1, 5}, {0.5, 0.25}, {0, 0}, {0, -1}, {2, 7}};
    std::vector<double> engines[2];
    int e = 0;
    for (FftEngine engine : {FftEngine::Fftw, FftEngine::Gsl})
        engines[e++] = RealSignal(bins, n, engine);
    const double pi = std::acos(-1.0);
    for (std::size_t j = 0; j < n; ++j) {
        double expected = 1 + 2 * ((j % 2) ? -1 : 1);
        expected += 2 * (0.5 * std::cos(2 * pi * j / 8) - 0.25 * std::sin(2 * pi * j / 8));
        expected += 2 * std::sin(2 * pi * 3 * j / 8);
        EXPECT_NEAR(engines[0][j], expected / n, 1e-15) << j;
        EXPECT_NEAR(engines[1][j], expected / n, 1e-15) << j;
    }
}

TEST(RealFftPlan, WrongBufferOrLengthIsRefused) {
    EXPECT_THROW(RealFftPlan(0), FftError);
    RealFftPlan plan(64);
    RealFftBuffer other(32);
    EXPECT_THROW(plan.Forward(other), FftError);
    EXPECT_THROW(plan.Inverse(other), FftError);
    EXPECT_THROW(RealSignal(std::vector<std::complex<double>>(5), 64), FftError);
}

TEST(RealFftPlan, ThreadsPlanningAtOnceGetCorrectSharedPlans) {
    // Every thread plans several lengths, some shared with other threads, and checks a
    // transform pair with each; planning is serialised, transforms run side by side.
    const std::size_t heldBefore = FftwPlanLengthsHeld();
    std::vector<int> failures(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int round = 0; round < 20; ++round) {
                const std::size_t n = 256u << ((t + round) % 5);
                const std::vector<double> x =
                    RandomSignal(n, static_cast<unsigned>(t * 100 + round));
                const std::vector<double> back = RealSignal(RealSpectrum(x), n);
                for (std::size_t j = 0; j < n; ++j) {
                    if (std::abs(back[j] - x[j]) > 1e-13) {
                        ++failures[t];
                        break;
                    }
                }
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
    // Five lengths were used; the recent ones stay planned, within the bound.
    EXPECT_LE(FftwPlanLengthsHeld(), std::max<std::size_t>(heldBefore, 6));
}

TEST(RealFftPlan, RecentLengthsAreNotPlannedAgainAndOldOnesAreLetGo) {
    const std::vector<double> x = RandomSignal(1000, 7);
    { RealFftPlan first(1000); }
    const std::uint64_t made = FftwPlansMade();
    {
        // The plan outlived its user: a new user of the length (a second model instance) gets
        // it without planning, and it still transforms correctly.
        const std::vector<double> back = RealSignal(RealSpectrum(x), 1000);
        for (std::size_t j = 0; j < x.size(); ++j) ASSERT_NEAR(back[j], x[j], 1e-13);
        EXPECT_EQ(FftwPlansMade(), made);
    }
    // Many other lengths later it has been let go, and is planned once more when needed.
    for (std::size_t n = 1001; n < 1013; ++n) RealFftPlan other(n);
    EXPECT_LE(FftwPlanLengthsHeld(), 6u);
    const std::uint64_t before = FftwPlansMade();
    RealFftPlan again(1000);
    EXPECT_EQ(FftwPlansMade(), before + 1);
}
