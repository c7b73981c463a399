#include "engine/fft/fft_service.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <thread>
#include <vector>

#include "engine/fft/fft_plan_cache.hpp"

namespace {

using Vec = std::vector<double>;
using Cx = std::complex<long double>;

// Direct sum X[k] = sum_j x[j] exp(dir * 2 pi i jk/n) in long double, from interleaved input.
Vec directDft(const Vec& interleaved, int dir) {
    const std::size_t n = interleaved.size() / 2;
    std::vector<Cx> w(n);
    const long double pi = 3.141592653589793238462643383279503L;
    for (std::size_t m = 0; m < n; ++m) w[m] = std::polar(1.0L, dir * 2 * pi * m / n);
    Vec out(2 * n);
    for (std::size_t k = 0; k < n; ++k) {
        Cx sum = 0;
        for (std::size_t j = 0; j < n; ++j) {
            sum += Cx(interleaved[2 * j], interleaved[2 * j + 1]) * w[(j * k) % n];
        }
        out[2 * k] = static_cast<double>(sum.real());
        out[2 * k + 1] = static_cast<double>(sum.imag());
    }
    return out;
}

Vec randomValues(std::size_t count, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Vec v(count);
    for (double& d : v) d = u(rng);
    return v;
}

void expectClose(const Vec& got, const Vec& want, double tol) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_NEAR(got[i], want[i], tol) << "index " << i;
}

Vec realAsComplex(const Vec& x) {
    Vec c(2 * x.size(), 0.0);
    for (std::size_t j = 0; j < x.size(); ++j) c[2 * j] = x[j];
    return c;
}

// One-based interleaved array holding the given zero-based interleaved points.
Vec oneBased(const Vec& interleaved) {
    Vec a(interleaved.size() + 1, 0.0);
    std::copy(interleaved.begin(), interleaved.end(), a.begin() + 1);
    return a;
}

class FftTest : public ::testing::Test {
  protected:
    void SetUp() override { ReleaseAll(); }
    void TearDown() override { ReleaseAll(); }
};

TEST_F(FftTest, MixedRadixTransformsMatchTheDirectSum) {
    for (std::uint32_t n : {1u, 2u, 15u, 96u, 1000u, 1024u, 3072u}) {
        SCOPED_TRACE(n);
        const double tol = 1e-12 * n;
        const Vec x = randomValues(n, n);
        ComplexBuffer spectrum;
        RealForward(spectrum, x);
        EXPECT_EQ(spectrum.count, n);
        expectClose(spectrum.data, directDft(realAsComplex(x), -1), tol);

        const Vec z = randomValues(2 * n, n + 1);
        ComplexBuffer buf(n);
        buf.data = z;
        ComplexForward(buf);
        expectClose(buf.data, directDft(z, -1), tol);
        ComplexInverse(buf);
        expectClose(buf.data, z, 1e-14 * n);
    }
}

TEST_F(FftTest, RealForwardSpectrumIsHermitianWithRealEnds) {
    for (std::uint32_t n : {1u, 2u, 3u, 15u, 16u}) {
        SCOPED_TRACE(n);
        ComplexBuffer s;
        RealForward(s, randomValues(n, 3 * n));
        EXPECT_EQ(s.data[1], 0.0);
        for (std::uint32_t k = 1; k < n; ++k) {
            EXPECT_EQ(s.data[2 * k], s.data[2 * (n - k)]);
            EXPECT_EQ(s.data[2 * k + 1], -s.data[2 * (n - k) + 1]);
        }
        if (n % 2 == 0) {
            EXPECT_EQ(s.data[n + 1], 0.0);
        }
    }
    ComplexBuffer s;
    RealForward(s, {2.5});
    EXPECT_EQ(s.data, (Vec{2.5, 0.0}));
    RealForward(s, Vec(15, 0.5));
    EXPECT_NEAR(s.data[0], 7.5, 1e-14);
    for (std::size_t i = 1; i < s.data.size(); ++i) EXPECT_NEAR(s.data[i], 0.0, 1e-14);
    // The output buffer may also be the input signal.
    ComplexBuffer copy;
    RealForward(copy, Vec(s.data));
    RealForward(s, s.data);
    EXPECT_EQ(s.data, copy.data);
}

TEST_F(FftTest, AdaptorRoundTripRestoresARealSignal) {
    const std::uint32_t n = 1000;
    const Vec x = randomValues(n, 11);
    Vec a = oneBased(realAsComplex(x));
    for (std::uint32_t k = 0; k < n; ++k) a[2 * k + 2] = 5.0;  // imaginary input is ignored
    Four1Adaptor(a, n, -1);
    Four1Adaptor(a, n, +1);
    for (std::uint32_t k = 0; k < n; ++k) {
        ASSERT_NEAR(a[2 * k + 1], x[k], 1e-13);
        ASSERT_NEAR(a[2 * k + 2], 0.0, 1e-13);
    }
}

TEST_F(FftTest, Radix2EngineIsUnscaledInBothDirections) {
    const std::uint32_t n = 1024;
    const Vec z = randomValues(2 * n, 5);
    Vec a = oneBased(z);
    Radix2Transform(a, n, -1);
    expectClose(Vec(a.begin() + 1, a.end()), directDft(z, -1), 1e-10);
    Radix2Transform(a, n, +1);
    for (std::size_t i = 0; i < z.size(); ++i) ASSERT_NEAR(a[i + 1], n * z[i], 1e-10);

    Vec b = oneBased(z);
    Radix2Transform(b, n, +1);
    expectClose(Vec(b.begin() + 1, b.end()), directDft(z, +1), 1e-10);

    Vec c{0, 3.0, -2.0};
    Radix2Transform(c, 1, -1);
    EXPECT_EQ(c, (Vec{0, 3.0, -2.0}));
}

TEST_F(FftTest, TransformRunsTheTransformItIsGiven) {
    const std::uint32_t n = 8;
    const Vec z = randomValues(2 * n, 9);
    Vec adaptor = oneBased(z);
    Transform(adaptor, n, +1, ReferenceTransform::MixedRadix);  // adaptor inverse carries 1/n
    Vec radix2 = oneBased(z);
    Transform(radix2, n, +1, ReferenceTransform::Radix2);
    for (std::size_t i = 1; i < radix2.size(); ++i) EXPECT_NEAR(radix2[i], n * adaptor[i], 1e-13);
    Vec bad(2 * 12 + 1);
    EXPECT_THROW(Transform(bad, 12, -1, ReferenceTransform::Radix2), FftError);  // not 2^k
    Transform(bad, 12, -1, ReferenceTransform::MixedRadix);                      // any length
}

TEST_F(FftTest, PlansFollowTheLengthAndAlternatingLengthsMatchFreshPlans) {
    auto& state = fftServiceState();
    const Vec a = randomValues(1000, 1);
    const Vec b = randomValues(1024, 2);
    ComplexBuffer freshA;
    ComplexBuffer freshB;
    RealForward(freshA, a);
    ReleaseAll();
    RealForward(freshB, b);
    ReleaseAll();

    const auto builds = state.realForward.builds();
    ComplexBuffer s;
    for (int round = 0; round < 2; ++round) {
        RealForward(s, a);
        EXPECT_EQ(s.data, freshA.data);
        EXPECT_EQ(state.realForward.length(), 1000u);
        RealForward(s, b);
        EXPECT_EQ(s.data, freshB.data);
    }
    RealForward(s, b);
    EXPECT_EQ(state.realForward.builds() - builds, 4u);  // one per change, none for the repeat
}

TEST_F(FftTest, ZeroLengthCallsEmptyOnlyTheirOwnSlot) {
    auto& state = fftServiceState();
    ComplexBuffer r;
    RealForward(r, randomValues(30, 1));
    ComplexBuffer f(20);
    ComplexForward(f);
    ComplexBuffer i(10);
    ComplexInverse(i);
    ASSERT_EQ(state.realForward.length(), 30u);

    ComplexBuffer out(5);
    RealForward(out, {});
    EXPECT_EQ(out.count, 0u);
    EXPECT_TRUE(out.data.empty());
    EXPECT_EQ(state.realForward.length(), 0u);
    EXPECT_EQ(state.complexForward.length(), 20u);
    EXPECT_EQ(state.complexInverse.length(), 10u);

    ComplexBuffer empty;
    ComplexInverse(empty);
    EXPECT_EQ(state.complexInverse.length(), 0u);
    EXPECT_EQ(state.complexForward.length(), 20u);
    ReleaseAll();
    EXPECT_EQ(state.complexForward.length(), 0u);
}

TEST_F(FftTest, InconsistentBuffersAreRejected) {
    ComplexBuffer buf(4);
    buf.data.resize(6);
    EXPECT_THROW(ComplexForward(buf), FftError);
    EXPECT_THROW(ComplexInverse(buf), FftError);
    Vec shortArray(2 * 8);  // one double short of 8 one-based points
    EXPECT_THROW(Radix2Transform(shortArray, 8, -1), FftError);
    EXPECT_THROW(Four1Adaptor(shortArray, 8, -1), FftError);
    Vec a(2 * 8 + 1);
    EXPECT_THROW(Radix2Transform(a, 8, 0), FftError);
}

TEST_F(FftTest, ThreadsKeepTheirOwnPlans) {
    struct Job {
        Vec x;
        Vec expected;
    };
    std::vector<Job> jobs;
    for (std::uint32_t n : {1000u, 1536u}) {
        Job j{randomValues(n, n), {}};
        ComplexBuffer s;
        RealForward(s, j.x);
        j.expected = s.data;
        jobs.push_back(j);
    }
    ReleaseAll();
    std::vector<int> failures(jobs.size(), 0);
    auto run = [&](std::size_t t) {
        for (int iter = 0; iter < 40; ++iter) {
            ComplexBuffer s;
            RealForward(s, jobs[t].x);
            if (s.data != jobs[t].expected) ++failures[t];
            ComplexInverse(s);
            for (std::size_t k = 0; k < jobs[t].x.size(); ++k) {
                if (std::fabs(s.data[2 * k] - jobs[t].x[k]) > 1e-12) {
                    ++failures[t];
                    break;
                }
            }
            Vec a(9, 0.0);
            a[1] = 1.0;
            Transform(a, 4, +1,
                      t == 1 ? ReferenceTransform::Radix2 : ReferenceTransform::MixedRadix);
            if (a[1] != (t == 1 ? 1.0 : 0.25)) ++failures[t];
        }
        ReleaseAll();
    };
    std::thread first(run, 0);
    std::thread second(run, 1);
    first.join();
    second.join();
    EXPECT_EQ(failures, (std::vector<int>{0, 0}));
}

}  // namespace
