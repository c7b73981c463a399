// Jitter and sensitivity reported by AMI_Init.
#include <gtest/gtest.h>

#include <cmath>

#include "rx_test_support.hpp"

using namespace rxtest;

namespace {

struct Outputs {
    double rj, dcd, sensitivity;
    std::string message;
};

Outputs RunAt(const std::filesystem::path& dir, double bitRate,
              const std::vector<std::pair<std::string, std::string>>& params) {
    std::vector<double> impulse(256, 0.0);
    impulse[5] = 1.0;
    RxInstance rx(impulse, 1.0 / bitRate / 32, 1.0 / bitRate, Params(dir, params));
    EXPECT_TRUE(rx.ok());
    return {OutputValue(rx.paramsOut(), "Rx_Rj "), OutputValue(rx.paramsOut(), "Rx_DCD "),
            OutputValue(rx.paramsOut(), "Rx_Receiver_Sensitivity "), rx.message()};
}

// Values are printed from single precision.
void ExpectClose(double actual, double expected) {
    EXPECT_NEAR(actual, expected, std::abs(expected) * 2e-6 + 1e-30);
}

}  // namespace

class JitterTest : public ::testing::Test {
  protected:
    TempDir dir;
    void SetUp() override { WriteTestDatabase(dir.path(), TestDatabase{}); }
};

TEST_F(JitterTest, HighDataRateCtleAcrossRates) {
    // 10 Gb/s: 1.648 + 3.221 - 2.538 ps; DCD 5.5 / (e^7.92 + 1) + 12.5 ps, halved.
    Outputs o = RunAt(dir.path(), 10e9, {});
    ExpectClose(o.rj, 2.331e-12);
    ExpectClose(o.dcd, 0.5 * (5.5 / (2751.7710 + 1) + 12.5) * 1e-12);
    EXPECT_EQ(o.sensitivity, 0.0);
    EXPECT_NE(o.message.find("  Bit rate:  10.000000 Gbps\n"), std::string::npos);
    EXPECT_NE(o.message.find("  (Rx_Rj  2.331000e-12)\n"), std::string::npos) << o.message;

    // 2.5 Gb/s: 1000 / 2.5 * 0.25 * 0.0625 ps.
    o = RunAt(dir.path(), 2.5e9, {});
    ExpectClose(o.rj, 6.25e-12);

    // 12 Gb/s: 23.39 / 12 ps; DCD 5.5 / (e^3.52 + 1) + 12.5 ps, halved.
    o = RunAt(dir.path(), 12e9, {{"pwrql", "1"}});
    ExpectClose(o.rj, 1.9491667e-12);
    ExpectClose(o.dcd, 0.5 * (5.5 / (33.784428 + 1) + 12.5) * 1e-12);
}

TEST_F(JitterTest, HighGainCtleUsesTheLowBandwidthCurveAndReportsSensitivity) {
    // 6 Gb/s lies on the quadratic through (4, 3.90625), (8, 2.60048), (10.3, 2.2730658):
    // Lagrange weights at 6 are 8.6/25.2, 8.6/9.2 and -4/14.49.
    const double rj6 = 3.90625 * 8.6 / 25.2 + 2.60048 * 8.6 / 9.2 - 2.2730658 * 4 / 14.49;
    Outputs o = RunAt(dir.path(), 6e9, {{"ctle_hg_sel", "1"}, {"eqz_bw_sel", "1"}});
    ExpectClose(o.rj, rj6 * 1e-12);
    ExpectClose(o.dcd, 0.5 * 32.0 / 6.0 * 1e-12);
    ExpectClose(o.sensitivity, 0.006);

    // Index 1 of eqz_bw_sel selects the "hi" curve; DFE on at industrial grade: 0.026 V.
    o = RunAt(dir.path(), 6e9, {{"ctle_hg_sel", "1"}, {"eqz_bw_sel", "2"}, {"dfe", "(mode 1)"}});
    ExpectClose(o.dcd, 0.5 * (5.5 / (std::exp(-2.2 * (6 - 13.6)) + 1) + 12.5) * 1e-12);
    ExpectClose(o.sensitivity, 0.013);
    o = RunAt(dir.path(), 6e9, {{"ctle_hg_sel", "1"}, {"dfe", "(mode 1)"}, {"temp_grade", "1"}});
    ExpectClose(o.sensitivity, 0.006);
}

TEST_F(JitterTest, JitterBelongsToTheCtleTheLookupSimulates) {
    // eqz_bw_sel 3 is the even index 2: the high-gain CTLE's low-bandwidth record, so the "lo"
    // curve, 32 / 6 ps at 6 Gb/s, halved.
    Outputs o = RunAt(dir.path(), 6e9, {{"ctle_hg_sel", "1"}, {"eqz_bw_sel", "3"}});
    ExpectClose(o.dcd, 0.5 * 32.0 / 6.0 * 1e-12);
    // Index 3 (eqz_bw_sel 4) is the high-bandwidth record: the "hi" curve.
    o = RunAt(dir.path(), 6e9, {{"ctle_hg_sel", "1"}, {"eqz_bw_sel", "4"}});
    ExpectClose(o.dcd, 0.5 * (5.5 / (std::exp(-2.2 * (6 - 13.6)) + 1) + 12.5) * 1e-12);
    // Any non-zero ctle_hg_sel simulates the high-gain CTLE, and reports its sensitivity.
    o = RunAt(dir.path(), 6e9, {{"ctle_hg_sel", "2"}, {"eqz_bw_sel", "1"}});
    ExpectClose(o.sensitivity, 0.006);
    ExpectClose(o.dcd, 0.5 * 32.0 / 6.0 * 1e-12);
    o = RunAt(dir.path(), 6e9, {{"ctle_hg_sel", "-1"}, {"dfe", "(mode 1)"}});
    ExpectClose(o.sensitivity, 0.013);
}

TEST_F(JitterTest, SupplyWarningAboveSeventeenPointFourGigabit) {
    const std::string warning =
        "WARNING: 'pwrql' must be set to 1.1V for operation at 17.4 Gbps or above!\n";
    Outputs o = RunAt(dir.path(), 17.5e9, {{"pwrql", "0"}});
    const std::size_t first = o.message.find(warning);
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(o.message.find(warning, first + 1), std::string::npos);
    o = RunAt(dir.path(), 17.5e9, {{"pwrql", "1"}});
    EXPECT_EQ(o.message.find(warning), std::string::npos);
}
