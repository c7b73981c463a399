// Choosing the response and curve records of a request from one database.
#include <gtest/gtest.h>

#include <cmath>

#include "rx/response_database.hpp"
#include "rxdb_fixtures.hpp"

namespace {

using rxdb_test::taggedDatabase;

// Tag of a response record: 1000 a + 100 b + 10 c + d (see taggedDatabase).
double responseTag(const ResponseSelection& s) { return s.response.data.at(0).at(0); }
// Tag of a curve record: 100 r + k.
double curveTag(const ResponseSelection& s) { return s.curve.data.at(0).at(0); }

ResponseRequest request(double ac, double dc, double bw, const std::string& variant,
                        const std::string& path) {
    ResponseRequest r;
    r.acGain = ac;
    r.dcGain = dc;
    r.bandwidth = bw;
    r.variant = variant;
    r.path = path;
    r.bitRate = 10e9;
    return r;
}

CtleDatabase highGainDatabase() {
    // 29 AC keys over 24 stored responses, DC 0..4, bandwidths 4, 8, 16, 28, 4 stages.
    CtleDatabase db = taggedDatabase(29, 5, 4, {"H"}, 4, 4, 2, 24);
    db.stageValues = {4, 8, 16, 28};
    return db;
}

TEST(SelectResponse, HighGainSettingsAboveNineteenShareStoredResponses) {
    const CtleDatabase db = highGainDatabase();
    // setting -> stored index
    const int expected[29] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14,
                              15, 16, 17, 18, 19, 19, 20, 20, 21, 21, 22, 22, 22, 23};
    for (int setting = 0; setting < 29; ++setting) {
        AmplitudeFitCache fits;
        ResponseSelection out;
        ASSERT_TRUE(SelectResponse(db, request(setting, 2, 16, "H", "High-Gain, High BW"), false,
                                   fits, out))
            << setting;
        EXPECT_DOUBLE_EQ(responseTag(out), 1000.0 * expected[setting] + 200 + 20) << setting;
        EXPECT_EQ(out.response.rows, 9u);
    }
}

TEST(SelectResponse, CurveColumnFollowsThePath) {
    AmplitudeFitCache fits;
    ResponseSelection out;
    // High gain: column 1 only for DC gains above 3; row = position of the bandwidth key.
    const CtleDatabase hg = highGainDatabase();
    ASSERT_TRUE(SelectResponse(hg, request(5, 3, 8, "H", "High-Gain, Low BW"), false, fits, out));
    EXPECT_DOUBLE_EQ(curveTag(out), 100.0);
    ASSERT_TRUE(SelectResponse(hg, request(5, 4, 8, "H", "High-Gain, Low BW"), false, fits, out));
    EXPECT_DOUBLE_EQ(curveTag(out), 101.0);

    // Low gain: always column 10, row = bandwidth position.
    CtleDatabase lg = taggedDatabase(16, 1, 4, {"H"}, 1, 4, 11);
    ASSERT_TRUE(SelectResponse(lg, request(15, 0, 28, "H", kLowGainPath), false, fits, out));
    EXPECT_DOUBLE_EQ(responseTag(out), 15030.0);
    EXPECT_DOUBLE_EQ(curveTag(out), 310.0);
    EXPECT_EQ(out.response.rows, 3u);

    // VGA: column = gain position.
    CtleDatabase vga = taggedDatabase(8, 1, 4, {"H"}, 1, 4, 8);
    ASSERT_TRUE(SelectResponse(vga, request(6, 0, 16, "H", kVgaPath), false, fits, out));
    EXPECT_DOUBLE_EQ(responseTag(out), 6020.0);
    EXPECT_DOUBLE_EQ(curveTag(out), 206.0);

    // QPI: column = variant position; the single curve row stands for bandwidth 16.
    CtleDatabase qpi = taggedDatabase(1, 1, 3, {"0p125V", "0p25V", "0p35V"}, 4, 1, 3);
    qpi.stageValues = {16};
    ASSERT_TRUE(SelectResponse(qpi, request(0, 0, 16, "0p35V", kQpiPath), false, fits, out));
    EXPECT_DOUBLE_EQ(responseTag(out), 22.0);
    EXPECT_DOUBLE_EQ(curveTag(out), 2.0);
}

TEST(SelectResponse, CurveOutsideTheTableFallsBackToTheFirstCell) {
    // Low gain asks for column 10 of a table with only 3 columns.
    CtleDatabase lg = taggedDatabase(16, 1, 4, {"H"}, 1, 4, 3);
    AmplitudeFitCache fits;
    ResponseSelection out;
    ASSERT_TRUE(SelectResponse(lg, request(2, 0, 8, "H", kLowGainPath), false, fits, out));
    EXPECT_DOUBLE_EQ(curveTag(out), 0.0);
    // No curve table at all: an empty curve, the response is still selected.
    lg.curves.clear();
    ASSERT_TRUE(SelectResponse(lg, request(2, 0, 8, "H", kLowGainPath), false, fits, out));
    EXPECT_TRUE(out.curve.empty());
    EXPECT_DOUBLE_EQ(responseTag(out), 2010.0);
}

TEST(SelectResponse, MissingKeysLeaveTheOutputsUntouched) {
    const CtleDatabase hg = highGainDatabase();
    ResponseSelection out;
    out.gainsA = {7, 7};
    out.fitA = {42};
    AmplitudeFitCache fits;
    EXPECT_FALSE(SelectResponse(hg, request(29, 0, 16, "H", ""), false, fits, out));   // AC
    EXPECT_FALSE(SelectResponse(hg, request(1, 5, 16, "H", ""), false, fits, out));    // DC
    EXPECT_FALSE(SelectResponse(hg, request(1, 0, 12, "H", ""), false, fits, out));    // bandwidth
    EXPECT_FALSE(SelectResponse(hg, request(1, 0, 16, "L", ""), false, fits, out));    // variant
    EXPECT_FALSE(SelectResponse(hg, request(1.5, 0, 16, "H", ""), false, fits, out));  // exact only
    EXPECT_TRUE(out.response.empty());
    EXPECT_EQ(out.gainsA, (std::vector<double>{7, 7}));
    EXPECT_EQ(out.fitA, (std::vector<double>{42}));
}

TEST(SelectResponse, BandwidthMustBeAStageKeyWhenTheFileHasThem) {
    CtleDatabase hg = highGainDatabase();
    hg.stageValues = {4, 8};  // a file with two curve rows
    AmplitudeFitCache fits;
    ResponseSelection out;
    EXPECT_FALSE(SelectResponse(hg, request(1, 0, 16, "H", ""), false, fits, out));
    EXPECT_TRUE(out.response.empty());
    EXPECT_TRUE(SelectResponse(hg, request(1, 0, 8, "H", ""), false, fits, out));
}

TEST(SelectResponse, KeysBeyondTheStoredTableGiveNoOutput) {
    // The AC key grid is longer than the stored responses and nothing remaps it.
    CtleDatabase vga = taggedDatabase(8, 1, 4, {"H"}, 1, 4, 8, 5);
    AmplitudeFitCache fits;
    ResponseSelection out;
    EXPECT_FALSE(SelectResponse(vga, request(6, 0, 16, "H", kVgaPath), false, fits, out));
    EXPECT_TRUE(out.response.empty());
    EXPECT_TRUE(SelectResponse(vga, request(4, 0, 16, "H", kVgaPath), false, fits, out));
}

TEST(SelectResponse, GainsComeFromTheFirstStoredGainAtTheRequestedBandwidth) {
    // M = responses[0][0][c][d] has tag 10c + d; row 1 starts at tag + 1, row 3 at tag + 3.
    const CtleDatabase hg = highGainDatabase();
    AmplitudeFitCache fits;
    ResponseSelection out;
    ASSERT_TRUE(SelectResponse(hg, request(7, 3, 16, "H", ""), false, fits, out));
    EXPECT_EQ(out.gainsA, (std::vector<double>{1, 1}));
    ASSERT_EQ(out.gainsB.size(), 2u);
    EXPECT_NEAR(out.gainsB[0], std::pow(10.0, 21.0 / 20.0), 1e-12);
    EXPECT_NEAR(out.gainsB[1], std::pow(10.0, 23.0 / 20.0), 1e-12);

    // A single-stage record repeats the first gain.
    CtleDatabase vga = taggedDatabase(8, 1, 4, {"H"}, 1, 4, 8);
    ASSERT_TRUE(SelectResponse(vga, request(3, 0, 8, "H", kVgaPath), false, fits, out));
    EXPECT_NEAR(out.gainsB[0], std::pow(10.0, 11.0 / 20.0), 1e-12);
    EXPECT_EQ(out.gainsB[1], out.gainsB[0]);
}

// Curves whose inputs and outputs are plain numbers, to check the fits.
CtleDatabase linearCurveDatabase(double slope) {
    CtleDatabase db = taggedDatabase(8, 1, 1, {"H"}, 1, 1, 8);
    for (auto& rec : db.responses[0][0][0]) rec.data[1][0] = 20.0 * std::log10(2.0);  // g1 = 2
    for (auto& cell : db.curves[0]) {
        for (std::size_t j = 0; j < cell.columns; ++j) {
            const double x = -1.0 + 2.0 * j / (cell.columns - 1);
            cell.data[0][j] = x;
            cell.data[1][j] = slope * x + 0.25 * x * x * x;
        }
    }
    return db;
}

TEST(SelectResponse, FitsAreTakenAgainstTheGainScaledInputs) {
    const CtleDatabase db = linearCurveDatabase(0.8);
    AmplitudeFitCache fits;
    ResponseSelection out;
    // Not VGA: fitA against x, fitB against x * g1 = 2x: coefficients c_j / 2^j.
    ASSERT_TRUE(SelectResponse(db, request(0, 0, 4, "H", kLowGainPath), false, fits, out));
    ASSERT_EQ(out.fitA.size(), 14u);
    ASSERT_EQ(out.fitB.size(), 14u);
    EXPECT_NEAR(out.fitA[1], 0.8, 1e-8);
    EXPECT_NEAR(out.fitA[3], 0.25, 1e-7);
    EXPECT_NEAR(out.fitB[1], 0.4, 1e-8);
    EXPECT_NEAR(out.fitB[3], 0.03125, 1e-7);

    // VGA: both fits against the plain inputs.
    AmplitudeFitCache vgaFits;
    ASSERT_TRUE(SelectResponse(db, request(2, 0, 4, "H", kVgaPath), false, vgaFits, out));
    EXPECT_NEAR(out.fitB[1], 0.8, 1e-8);
    EXPECT_NEAR(out.fitB[3], 0.25, 1e-7);
}

TEST(SelectResponse, FitsAreReusedForTheSameCurveCell) {
    const CtleDatabase db = linearCurveDatabase(0.8);
    AmplitudeFitCache fits;
    ResponseSelection out;
    ASSERT_TRUE(SelectResponse(db, request(2, 0, 4, "H", kVgaPath), false, fits, out));
    EXPECT_EQ(fits.fitRow, 0);
    EXPECT_EQ(fits.fitCol, 2);
    fits.fitA = {123.0};  // stands for a fit computed earlier for the same cell
    ASSERT_TRUE(SelectResponse(db, request(2, 0, 4, "H", kVgaPath), false, fits, out));
    EXPECT_EQ(out.fitA, (std::vector<double>{123.0}));
    // Another column: fitted afresh.
    ASSERT_TRUE(SelectResponse(db, request(3, 0, 4, "H", kVgaPath), false, fits, out));
    EXPECT_EQ(fits.fitCol, 3);
    EXPECT_NEAR(out.fitA[1], 0.8, 1e-8);
}

TEST(SelectResponse, InfoOnlyReturnsTheKeyGridsAndStageCount) {
    const CtleDatabase hg = highGainDatabase();
    AmplitudeFitCache fits;
    ResponseSelection out;
    ASSERT_TRUE(SelectResponse(hg, request(99, 99, 99, "none", ""), true, fits, out));
    EXPECT_EQ(out.info.axisA.size(), 29u);
    EXPECT_EQ(out.info.axisB, (std::vector<double>{0, 1, 2, 3, 4}));
    EXPECT_EQ(out.info.axisC, (std::vector<double>{4, 8, 16, 28}));
    EXPECT_EQ(out.info.variants, (std::vector<std::string>{"H"}));
    EXPECT_EQ(out.info.pointCount, 4);
    EXPECT_TRUE(out.response.empty());

    CtleDatabase empty;
    ASSERT_TRUE(SelectResponse(empty, request(0, 0, 0, "", ""), true, fits, out));
    EXPECT_EQ(out.info.pointCount, 0);
}

}  // namespace
