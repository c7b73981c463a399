// Tap weights from the coefficient matrices, their layout on the sample grid, and the log lines.
#include "tx/tap_weights.hpp"

#include "tx_test_support.hpp"

namespace v10kx_ami_tx {
namespace {

// One record, keyed 0.8, whose matrices hold easily traced numbers: coefA[j][k] = j + k / 10,
// coefB[j][k] = (j + k) / 100.
FirMap HandMadeMap() {
    FirMapRecord r;
    r.key = 0.8;
    r.numPre = 2;
    r.numPost = 2;
    r.maxSetting = {3, 3, 0, 3, 3};
    r.coefA = {5, 4, std::vector<double>(20)};
    r.coefB = r.coefA;
    for (std::uint32_t j = 0; j < 5; ++j) {
        for (std::uint32_t k = 0; k < 4; ++k) {
            r.coefA.values[j * 4 + k] = j + k / 10.0;
            r.coefB.values[j * 4 + k] = (j + k) / 100.0;
        }
    }
    FirMap map;
    map.keys = {0.3, 0.8};
    FirMapRecord other = r;
    other.key = 0.3;
    other.coefA.values.assign(20, 99.0);
    map.records = {other, r};
    return map;
}

TEST(ComputeTapWeights, MatrixArithmetic) {
    const std::optional<FirMap> map = HandMadeMap();
    std::string problem;
    // Settings: ptap2 +1, ptap1 -2, tap1 +3, tap2 0.
    const FiveTaps w = ComputeTapWeights(0.8, map, {1, -2, 3, 0}, problem);
    EXPECT_TRUE(problem.empty());
    // Position 0, k 1: a = 0.1, b = -0.01, sum 0.09 -> 0.0225.
    // Position 1, k 2: a = -(1.2), b = +0.03, sum -1.17 -> -0.2925.
    // Position 3, k 3: a = 3.3, b = -0.06, sum 3.24 -> 0.81.
    // Position 4, k 0, sign 0: sum 0.
    // Main: 1 - 0.0225 - 0.2925 - 0.81 - 0 = -0.125.
    EXPECT_NEAR(w[0], 0.0225 * 0.8, 1e-15);
    EXPECT_NEAR(w[1], -0.2925 * 0.8, 1e-15);
    EXPECT_NEAR(w[2], -0.125 * 0.8, 1e-15);
    EXPECT_NEAR(w[3], 0.81 * 0.8, 1e-15);
    EXPECT_EQ(w[4], 0.0);
}

TEST(ComputeTapWeights, AllZeroSettingsGiveTheAmplitudeOnTheMainTap) {
    const std::optional<FirMap> map = HandMadeMap();
    std::string problem;
    const FiveTaps w = ComputeTapWeights(0.3, map, {0, 0, 0, 0}, problem);
    EXPECT_EQ(w, (FiveTaps{0, 0, 0.3, 0, 0}));
    EXPECT_TRUE(problem.empty());
}

TEST(ComputeTapWeights, UnusableMapFallsBackToTheMainTap) {
    std::optional<FirMap> map = HandMadeMap();
    std::string problem;
    FiveTaps w = ComputeTapWeights(0.5, map, {1, 1, 1, 1}, problem);
    EXPECT_EQ(w, (FiveTaps{0, 0, 0.5, 0, 0}));
    EXPECT_NE(problem.find("no FIR map record belongs to the output amplitude 0.500000"),
              std::string::npos);

    problem.clear();
    w = ComputeTapWeights(0.8, map, {0, 0, 4, 0}, problem);  // columns 0..3 only
    EXPECT_EQ(w, (FiveTaps{0, 0, 0.8, 0, 0}));
    EXPECT_NE(problem.find("tap setting 4 at position 3 lies beyond the 4 coefficient columns"),
              std::string::npos)
        << problem;

    problem.clear();
    w = ComputeTapWeights(0.8, std::nullopt, {1, 0, 0, 0}, problem);
    EXPECT_EQ(w, (FiveTaps{0, 0, 0.8, 0, 0}));
    EXPECT_FALSE(problem.empty());
}

TEST(ComputeTapWeights, KeyMustMatchWithinOneUlpOfOne) {
    const std::optional<FirMap> map = HandMadeMap();
    std::string problem;
    ComputeTapWeights(0.8 + 1e-16, map, {0, 0, 0, 0}, problem);
    EXPECT_TRUE(problem.empty());
    ComputeTapWeights(0.8 + 4e-16, map, {0, 0, 0, 0}, problem);
    EXPECT_FALSE(problem.empty());
}

TEST(LayoutTapWeights, SpacingAndLog) {
    const FiveTaps w{0.1, 0.2, 0.3, 0.4, 0.5};
    const std::vector<double> l3 = LayoutTapWeights(w, 3);
    EXPECT_EQ(l3, (std::vector<double>{0.1, 0, 0, 0.2, 0, 0, 0.3, 0, 0, 0.4, 0, 0, 0.5, 0, 0}));
    EXPECT_EQ(LayoutTapWeights(w, 1), (std::vector<double>{0.1, 0.2, 0.3, 0.4, 0.5}));
    EXPECT_EQ(FormatTapWeights(l3, 3),
              "\nCalculated tap weights:\n\tPre2:\t0.100000\n\tPre1:\t0.200000\n\tMain:\t0.300000\n"
              "\tTap1:\t0.400000\n\tTap2:\t0.500000\n");
    EXPECT_EQ(FormatTapWeights(LayoutTapWeights(w, 1), 1), FormatTapWeights(l3, 3));
}

}  // namespace
}  // namespace v10kx_ami_tx
