#include "engine/interpolation/interpolation.hpp"

#include <gsl/gsl_errno.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "engine/interpolation/nr3_interp.hpp"

namespace {

using Vec = std::vector<double>;

const std::vector<std::string> kAllMethods = {"NR3_linear", "NR3_poly",   "NR3_rational", "linear",
                                              "linear_old", "polynomial", "cspline",      "akima"};
// The four-point rational form is degenerate on exactly linear data (zero denominators at some
// abscissae), so straight-line checks leave it out and test it on a rational function instead.
const std::vector<std::string> kLineMethods = {"NR3_linear", "NR3_poly", "linear", "linear_old",
                                               "polynomial", "cspline",  "akima"};

// Counts calls of GSL's error handler: no input may make the library report an error.
int gslErrors = 0;
void countGslError(const char*, const char*, int, int) { ++gslErrors; }

class InterpolateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gslErrors = 0;
        previous = gsl_set_error_handler(&countGslError);
    }
    void TearDown() override {
        gsl_set_error_handler(previous);
        EXPECT_EQ(gslErrors, 0);
    }
    gsl_error_handler_t* previous = nullptr;
};

// Expects InterpolationError with the given message and the matching line on standard output.
void expectError(const std::string& method, const Vec& x, const Vec& y, const Vec& xi,
                 const std::string& message, int line = -1) {
    Vec out;
    testing::internal::CaptureStdout();
    try {
        Interpolate(method, x, y, xi, out);
        testing::internal::GetCapturedStdout();
        ADD_FAILURE() << method << ": no error, expected \"" << message << "\"";
    } catch (const InterpolationError& e) {
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        EXPECT_EQ(printed.rfind("ERROR: " + std::string(e.what()) + "\n     in file ", 0), 0u)
            << printed;
        if (line >= 0) {
            EXPECT_EQ(printed, "ERROR: " + message + "\n     in file Interpolation2 at line " +
                                   std::to_string(line) + "\n");
        }
    }
}

TEST_F(InterpolateTest, EveryMethodAgreesOnAStraightLineInsideAndOutside) {
    // Five points: the fewest the Akima spline accepts.
    const Vec x{0, 1, 2, 3, 4};
    const Vec y{0, 10, 20, 30, 40};
    for (const auto& m : kLineMethods) {
        Vec out;
        Interpolate(m, x, y, {1.5, 5.0, -1.0, 0.0, 4.0}, out);
        ASSERT_EQ(out.size(), 5u) << m;
        EXPECT_NEAR(out[0], 15.0, 1e-12) << m;
        EXPECT_NEAR(out[1], 50.0, 1e-9) << m;   // extrapolated from the last interval
        EXPECT_NEAR(out[2], -10.0, 1e-9) << m;  // and from the first
        EXPECT_NEAR(out[3], 0.0, 1e-12) << m;
        EXPECT_NEAR(out[4], 40.0, 1e-12) << m;
    }
    EXPECT_NEAR(InterpolateAt("NR3_rational", {0, 1, 2, 3}, {0, 10, 20, 30}, 1.5), 15.0, 1e-12);
}

TEST_F(InterpolateTest, DescendingTablesGiveTheSameCurve) {
    const Vec x{3, 2, 1, 0, -1};
    const Vec y{35, 25, 15, 5, -5};
    for (const auto& m : kLineMethods) {
        Vec out;
        Interpolate(m, x, y, {1.5, 2.25, 0.5, 2.75, -0.5}, out);
        const Vec want{20, 27.5, 10, 32.5, 0};
        for (std::size_t k = 0; k < want.size(); ++k) EXPECT_NEAR(out[k], want[k], 1e-9) << m;
    }
    // Cubic through four points of y = x^3, on a descending table.
    EXPECT_NEAR(InterpolateAt("NR3_poly", {4, 3, 2, 1, 0}, {64, 27, 8, 1, 0}, 1.5), 3.375, 1e-12);
    // (x + 2) / (x^2 + 1) lies in the four-point rational class: 3.5 / 3.25 at 1.5.
    EXPECT_NEAR(InterpolateAt("NR3_rational", {4, 3, 2, 1, 0}, {6.0 / 17, 0.5, 0.8, 1.5, 2}, 1.5),
                3.5 / 3.25, 1e-12);
}

TEST_F(InterpolateTest, HigherOrderMethodsReproduceTheirOwnFunctionClass) {
    const Vec x{0, 1, 2, 3, 4};
    Vec cube;
    Vec ratio;
    for (double v : x) {
        cube.push_back(v * v * v);
        ratio.push_back((v + 2) / (v * v + 1));
    }
    EXPECT_NEAR(InterpolateAt("NR3_poly", x, cube, 1.5), 3.375, 1e-12);
    EXPECT_NEAR(InterpolateAt("polynomial", x, cube, 2.5), 15.625, 1e-12);
    EXPECT_NEAR(InterpolateAt("NR3_rational", x, ratio, 1.5), 3.5 / 3.25, 1e-12);
    EXPECT_NEAR(InterpolateAt("NR3_linear", x, cube, 1.5), 4.5, 1e-12);
    EXPECT_NEAR(InterpolateAt("linear", x, cube, 1.5), 4.5, 1e-12);
    // The four-point window straddles the interval: two points each side where the table allows.
    // Lagrange weight of the node 4 among {1,2,3,4} at 2.5 is -1/16; among {2,3,4,5} at 4.5, 15/16.
    const Vec x6{0, 1, 2, 3, 4, 5};
    const Vec spike{0, 0, 0, 0, 1, 0};
    EXPECT_NEAR(InterpolateAt("NR3_poly", x6, spike, 2.5), -0.0625, 1e-14);
    EXPECT_NEAR(InterpolateAt("NR3_poly", x6, spike, 4.5), 0.9375, 1e-14);
    EXPECT_NEAR(InterpolateAt("NR3_poly", x6, spike, 0.5), 0.0, 1e-14);
    // A zero curve stays zero (no 0/0 in the rational tableau).
    EXPECT_NEAR(InterpolateAt("NR3_rational", x6, Vec(6, 0.0), 2.5), 0.0, 1e-90);
    // Rational interpolation at a node returns the node's value exactly.
    EXPECT_EQ(InterpolateAt("NR3_rational", x, ratio, 2.0), ratio[2]);
}

TEST_F(InterpolateTest, SplinesMatchHandComputedValues) {
    // Natural spline through (0,0) (1,1) (2,0): M1 = -3, so S(x) = -x^3/2 + 3x/2 on [0,1].
    Vec out;
    Interpolate("cspline", {0, 1, 2}, {0, 1, 0}, {0.5, -1.0, 3.0, 1.5}, out);
    EXPECT_NEAR(out[0], 0.6875, 1e-12);
    EXPECT_NEAR(out[1], -1.0, 1e-12);
    EXPECT_NEAR(out[2], -1.0, 1e-12);
    EXPECT_NEAR(out[3], 0.6875, 1e-12);
    // Akima slopes for y = 0 0 0 1 1: t(2) = 0, t(3) = 0.5; Hermite midpoint 0.5 - 0.5/8.
    EXPECT_NEAR(InterpolateAt("akima", {0, 1, 2, 3, 4}, {0, 0, 0, 1, 1}, 2.5), 0.4375, 1e-12);
}

TEST_F(InterpolateTest, BracketingSearchFollowsAnyOrderOfAbscissae) {
    // Uneven table; abscissae ascending, descending, jumping: compare with a plain scan.
    Vec x;
    Vec y;
    for (int i = 0; i < 200; ++i) {
        x.push_back(i * i * 0.01 + i);
        y.push_back(std::sin(0.1 * i));
    }
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> any(-5.0, x.back() + 5.0);
    Vec xi;
    for (int i = 0; i < 300; ++i) xi.push_back(i * 2.0);
    for (int i = 300; i > 0; --i) xi.push_back(i * 1.7);
    for (int i = 0; i < 300; ++i) xi.push_back(any(rng));
    auto reference = [&](double v) {
        std::size_t j = 0;
        while (j + 2 < x.size() && v >= x[j + 1]) ++j;
        return y[j] + (v - x[j]) / (x[j + 1] - x[j]) * (y[j + 1] - y[j]);
    };
    Vec rx(x.rbegin(), x.rend());
    Vec ry(y.rbegin(), y.rend());
    for (const std::string m : {"NR3_linear", "linear"}) {
        Vec up;
        Vec down;
        Interpolate(m, x, y, xi, up);
        Interpolate(m, rx, ry, xi, down);
        for (std::size_t k = 0; k < xi.size(); ++k) {
            ASSERT_NEAR(up[k], reference(xi[k]), 1e-9) << m << " at " << xi[k];
            ASSERT_NEAR(down[k], reference(xi[k]), 1e-9) << m << " descending at " << xi[k];
        }
    }
}

TEST_F(InterpolateTest, ClassicErrorsPrintTheirLineAndThrow) {
    expectError("NR3_poly", {0, 1, 2}, {0, 1, 2}, {0.5}, "locate size error", 606);
    expectError("NR3_linear", {1}, {1}, {0.5}, "locate size error", 606);
    expectError("NR3_poly", {0, 1, 1, 2}, {0, 1, 1, 2}, {0.5}, "Poly_interp error", 693);
    expectError("NR3_rational", {0, 1, 1, 2}, {0, 1, 1, 2}, {0.5}, "Error in routine ratint", 737);

    const Vec one{1.0};
    Linear_interp single(one.data(), one.data(), 1);
    testing::internal::CaptureStdout();
    EXPECT_THROW(single.hunt(0.5), InterpolationError);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ERROR: hunt size error\n     in file Interpolation2 at line 624\n");
}

TEST_F(InterpolateTest, UnusableTablesFailCleanlyInsteadOfCrashing) {
    expectError("cspline", {0, 1}, {0, 1}, {0.5}, "cspline needs at least 3");
    expectError("akima", {0, 1, 2, 3}, {0, 1, 2, 3}, {0.5}, "akima needs at least 5");
    expectError("polynomial", {0, 1}, {0, 1}, {0.5}, "polynomial needs at least 3");
    expectError("linear", {0}, {0}, {0.5}, "linear needs at least 2");
    expectError("linear_old", {}, {}, {0.5}, "linear_old needs at least 2");
    for (const std::string m : {"linear", "linear_old", "cspline", "akima", "polynomial"}) {
        expectError(m, {0, 1, 1, 2, 3, 4}, {0, 1, 2, 3, 4, 5}, {0.5}, "strictly monotonic");
        expectError(m, {0, 1, 2, 1.5, 3, 4}, {0, 1, 2, 3, 4, 5}, {0.5}, "strictly monotonic");
    }
    for (const auto& m : kAllMethods) {
        expectError(m, {0, 1, 2, 3, 4}, {0, 1, 2}, {0.5}, "differ in length");
    }
}

TEST_F(InterpolateTest, UnknownMethodOnlyResizesTheOutput) {
    Vec out{7.0, 7.0};
    Interpolate("Linear", {0, 1}, {0, 1}, {0.1, 0.2, 0.3}, out);
    EXPECT_EQ(out, (Vec{7.0, 7.0, 0.0}));
    Interpolate("akima", {0, 1}, {0, 1}, {},
                out);  // nothing to evaluate, nothing to complain about
    EXPECT_TRUE(out.empty());
}

TEST_F(InterpolateTest, OutputMayBeOneOfTheInputs) {
    Vec x{0, 1, 2, 3};
    Vec y{0, 10, 20, 30};
    Interpolate("linear", x, y, {0.5, 1.5, 2.5, 3.5, 4.5}, y);
    EXPECT_EQ(y, (Vec{5, 15, 25, 35, 45}));
}

}  // namespace
