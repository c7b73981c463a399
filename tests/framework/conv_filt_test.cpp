// The rational filter: arithmetic, state across calls and construction failures.
#include "framework/conv_filt.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "framework/ts_exceptions.hpp"

namespace {

std::string InitializerError(std::vector<double> num, std::vector<double> den,
                             std::vector<double> init) {
    try {
        ConvFilt f(std::move(num), std::move(den), std::move(init));
    } catch (const EBadInitializers& e) {
        return e.GetText();
    }
    return "no exception";
}

TEST(ConvFilt, UnitGainPassesSamplesThrough) {
    ConvFilt f({1}, {1}, {0});
    for (double x : {0.0, -1.5, 3.25, 1e-300}) EXPECT_EQ(f.Filter(x), x);
}

TEST(ConvFilt, OnePoleRecursionHalvesEachStep) {
    ConvFilt f({1, 0}, {1, -0.5}, {0, 0});
    EXPECT_EQ(f.Filter(std::vector<double>{1, 0, 0, 0, 0}),
              (std::vector<double>{1, 0.5, 0.25, 0.125, 0.0625}));
}

TEST(ConvFilt, InitialStateIsTheInternalHistory) {
    // y0 = 0.5*x0 + 0.5*init[0]; init[1] is shifted out before it is used.
    ConvFilt f({0.5, 0.5}, {1, 0}, {2, 7});
    EXPECT_EQ(f.Filter(4.0), 3.0);
    EXPECT_EQ(f.Filter(0.0), 2.0);
    ConvFilt g({0.5, 0.5}, {1, 0}, {2, -100});
    EXPECT_EQ(g.Filter(4.0), 3.0);
}

TEST(ConvFilt, EveryCoefficientIsDividedByTheFirstDenominator) {
    ConvFilt f({2, 0}, {2, -1}, {0, 0});  // same as num (1, 0), den (1, -0.5)
    EXPECT_EQ(f.Filter(std::vector<double>{1, 0, 0}), (std::vector<double>{1, 0.5, 0.25}));
    ConvFilt g({3}, {4}, {0});
    EXPECT_EQ(g.Filter(2.0), 1.5);
}

TEST(ConvFilt, FiveTapFirImpulseResponseIsTheTaps) {
    const std::vector<double> taps{-0.05, -0.1, 0.7, -0.125, -0.025};
    ConvFilt f(taps, {1, 0, 0, 0, 0}, {0, 0, 0, 0, 0});
    std::vector<double> impulse(8, 0.0);
    impulse[0] = 1;
    const auto out = f.Filter(impulse);
    for (std::size_t k = 0; k < 5; ++k) EXPECT_EQ(out[k], taps[k]);
    for (std::size_t k = 5; k < 8; ++k) EXPECT_EQ(out[k], 0.0);
}

// Straight loops in the documented order; the filter's unrolled sums must match them bit for
// bit for every length around the unrolling width.
std::vector<double> Reference(const std::vector<double>& num, const std::vector<double>& den,
                              std::vector<double> w, const std::vector<double>& x) {
    const std::size_t n = num.size();
    std::vector<double> y;
    for (double xi : x) {
        for (std::size_t k = n - 1; k >= 1; --k) w[k] = w[k - 1];
        double v = xi;
        for (std::size_t k = 1; k < n; ++k) v = v - (den[k] / den[0]) * w[k];
        w[0] = v;
        double s = (num[0] / den[0]) * w[0];
        for (std::size_t k = 1; k < n; ++k) s = s + (num[k] / den[0]) * w[k];
        y.push_back(s);
    }
    return y;
}

TEST(ConvFilt, UnrolledSumsKeepTheSummationOrder) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (std::size_t n = 1; n <= 11; ++n) {
        std::vector<double> num(n), den(n), init(n), x(50);
        for (auto* v : {&num, &den, &init}) {
            for (double& c : *v) c = u(rng);
        }
        den[0] = 1.7;
        for (std::size_t k = 1; k < n; ++k) den[k] *= 0.3 / static_cast<double>(n);  // stable
        for (double& s : x) s = u(rng) * 1e3;
        ConvFilt f(num, den, init);
        EXPECT_EQ(f.Filter(x), Reference(num, den, init, x)) << "n = " << n;
    }
}

TEST(ConvFilt, BlocksSplitAcrossCallsGiveTheSameStream) {
    const std::vector<double> num{0.2, -0.3, 0.5, 0.1, 0.05, -0.02};
    const std::vector<double> den{1.0, -0.4, 0.1, 0.02, -0.01, 0.003};
    const std::vector<double> init{0.1, -0.2, 0.3, 0.0, 0.5, -0.6};
    std::vector<double> x;
    for (int i = 0; i < 37; ++i) x.push_back(std::sin(0.3 * i) + (i % 5 == 0 ? 1.0 : 0.0));

    ConvFilt whole(num, den, init);
    const auto expected = whole.Filter(x);

    ConvFilt split(num, den, init);
    auto a = split.Filter(std::vector<double>(x.begin(), x.begin() + 13));
    std::vector<double> got(a);
    got.push_back(split.Filter(x[13]));
    auto b = split.Filter(std::vector<double>(x.begin() + 14, x.end()));
    got.insert(got.end(), b.begin(), b.end());
    EXPECT_EQ(got, expected);
}

TEST(ConvFilt, MismatchedLengthsAreRefusedWithTheirLengths) {
    EXPECT_EQ(InitializerError({1, 2, 3}, {1, 2, 3}, {0, 0}),
              "Received bad class initializers: ConvFilt: length of `num' (3), `den' (3), and "
              "`init' (2) must match.");
    EXPECT_EQ(InitializerError({1, 2, 3}, {1, 2}, {0, 0, 0}),
              "Received bad class initializers: ConvFilt: length of `num' (3), `den' (2), and "
              "`init' (3) must match.");
}

TEST(ConvFilt, FiltersThatCannotWorkAreRefused) {
    EXPECT_EQ(InitializerError({}, {}, {}),
              "Received bad class initializers: ConvFilt: the coefficient lists must not be "
              "empty.");
    EXPECT_EQ(InitializerError({1, 1}, {0, 1}, {0, 0}),
              "Received bad class initializers: ConvFilt: the first denominator coefficient "
              "must not be zero.");
}

}  // namespace
