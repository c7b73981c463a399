// Least-squares polynomial fits used for the amplitude curves.
#include "rx/response_fit.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

std::vector<double> grid(int n, double lo, double hi) {
    std::vector<double> x(n);
    for (int i = 0; i < n; ++i) x[i] = lo + (hi - lo) * i / (n - 1);
    return x;
}

TEST(PolynomialFit, RecoversTheCoefficientsOfAnExactPolynomial) {
    const auto x = grid(41, -1.0, 1.0);
    std::vector<double> y;
    for (double v : x) y.push_back(0.02 + 0.9 * v - 0.15 * v * v * v);
    const auto c = FitPolynomial(x, y, kAmplitudeFitCoefficients);
    ASSERT_EQ(c.size(), 14u);
    EXPECT_NEAR(c[0], 0.02, 1e-9);
    EXPECT_NEAR(c[1], 0.9, 1e-9);
    EXPECT_NEAR(c[2], 0.0, 1e-8);
    EXPECT_NEAR(c[3], -0.15, 1e-8);
    for (std::size_t j = 4; j < c.size(); ++j) EXPECT_NEAR(c[j], 0.0, 1e-6) << "power " << j;
}

TEST(PolynomialFit, StraightLineThroughNoisyPointsIsTheLeastSquaresLine) {
    // Points (0,0), (1,1), (2,1): slope 1/2, intercept 1/6 by the normal equations.
    const auto c = FitPolynomial({0, 1, 2}, {0, 1, 1}, 2);
    ASSERT_EQ(c.size(), 2u);
    EXPECT_NEAR(c[0], 1.0 / 6.0, 1e-12);
    EXPECT_NEAR(c[1], 0.5, 1e-12);
}

TEST(PolynomialFit, ThreeCoefficientsThroughThreePointsInterpolate) {
    // y = 1 + 2x + 3x^2 at x = 4, 8, 10.3.
    std::vector<double> x = {4, 8, 10.3}, y;
    for (double v : x) y.push_back(1 + 2 * v + 3 * v * v);
    const auto c = FitPolynomial(x, y, 3);
    ASSERT_EQ(c.size(), 3u);
    EXPECT_NEAR(c[0], 1.0, 1e-8);
    EXPECT_NEAR(c[1], 2.0, 1e-9);
    EXPECT_NEAR(c[2], 3.0, 1e-10);
}

TEST(PolynomialFit, ScaledInputsDivideEachCoefficientByTheScalePower) {
    // y = 0.5 x - 0.1 x^3 seen through x' = 2x: y = 0.25 x' - 0.0125 x'^3.
    const auto x = grid(41, -1.0, 1.0);
    std::vector<double> y;
    for (double v : x) y.push_back(0.5 * v - 0.1 * v * v * v);
    const auto c = FitAmplitudeCurve(x, y, 2.0);
    ASSERT_EQ(c.size(), 14u);
    EXPECT_NEAR(c[1], 0.25, 1e-9);
    EXPECT_NEAR(c[3], -0.0125, 1e-9);
}

TEST(PolynomialFit, SaturatingCurveIsFollowedClosely) {
    const auto x = grid(81, -2.0, 2.0);
    std::vector<double> y;
    for (double v : x) y.push_back(0.8 * std::tanh(v / 0.8));
    const auto c = FitAmplitudeCurve(x, y, 1.0);
    ASSERT_EQ(c.size(), 14u);
    for (std::size_t i = 0; i < x.size(); ++i) EXPECT_NEAR(EvaluatePolynomial(c, x[i]), y[i], 2e-3);
}

TEST(PolynomialFit, FewerPointsThanCoefficientsLeavesTheTopPowersAtZero) {
    const auto c = FitPolynomial({0, 1, 2}, {1, 3, 5}, 14);
    ASSERT_EQ(c.size(), 14u);
    EXPECT_NEAR(c[0], 1.0, 1e-12);
    EXPECT_NEAR(c[1], 2.0, 1e-12);
    EXPECT_NEAR(c[2], 0.0, 1e-12);
    for (std::size_t j = 3; j < c.size(); ++j) EXPECT_EQ(c[j], 0.0);
}

TEST(PolynomialFit, UnusableInputGivesNoFit) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(FitPolynomial({}, {}, 3).empty());
    EXPECT_TRUE(FitPolynomial({1, 2}, {1}, 2).empty());
    EXPECT_TRUE(FitPolynomial({1, nan}, {1, 2}, 2).empty());
    EXPECT_TRUE(FitPolynomial({1, 2}, {1, HUGE_VAL}, 2).empty());
    // 1e30^13 overflows: the solver must not see it.
    EXPECT_TRUE(FitAmplitudeCurve(grid(20, -1e30, 1e30), grid(20, -1, 1), 1.0).empty());
}

}  // namespace
