// The generated receiver database: physical shape of the records, the DFE maps, the
// description checks, and that every setting the receiver accepts finds its records.
#include "mkdb/rx_database_writer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "mkdb/rx_device_description.hpp"
#include "mkdb/rx_stage_model.hpp"
#include "mkdb/writers.hpp"
#include "rx/container_reader.hpp"
#include "rx/response_database.hpp"
#include "rxdb_fixtures.hpp"

namespace {

using rxdb_test::TempDir;

// The database generated once from the shipped description.
class GeneratedDatabase : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir = new TempDir;
        mkdb::writeRxDatabase(mkdb::defaultRxDescription(), dir->path());
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }
    static CtleDatabase load(const std::string& name, const char* label) {
        CtleDatabase db;
        EXPECT_TRUE(LoadCtleDatabase(db, dir->file(name), label)) << name;
        return db;
    }
    static TempDir* dir;
};
TempDir* GeneratedDatabase::dir = nullptr;

double peakOverDc(const std::vector<double>& magnitudeDb) {
    double peak = magnitudeDb[0];
    for (double m : magnitudeDb) peak = std::max(peak, m);
    return peak - magnitudeDb[0];
}

// Gain at the first grid frequency not below `hz`, relative to DC.
double boostAt(const ResponseRecord& r, std::size_t row, double hz) {
    std::size_t i = 0;
    while (i + 1 < r.data[0].size() && r.data[0][i] < hz) ++i;
    return r.data[row][i] - r.data[row][0];
}

TEST_F(GeneratedDatabase, HighGainRecordsHaveFourStagesOnAGridFromDcPastFortyGigahertz) {
    const CtleDatabase db = load("V10KX_CTLE.kvreledata", kHighGainPathLabel);
    EXPECT_EQ(db.axisA.size(), 29u);
    EXPECT_EQ(db.responses.size(), 24u);
    EXPECT_EQ(db.axisB, (std::vector<double>{0, 1, 2, 3, 4}));
    EXPECT_EQ(db.axisC, (std::vector<double>{4, 8, 16, 28}));
    EXPECT_EQ(db.variants, (std::vector<std::string>{"H"}));
    const ResponseRecord& r = db.responses[10][2][1][0];
    ASSERT_EQ(r.rows, 9u);
    const auto& f = r.data[0];
    EXPECT_EQ(f.front(), 0.0);
    EXPECT_GE(f.back(), 40e9);
    for (std::size_t i = 1; i < f.size(); ++i) ASSERT_GT(f[i], f[i - 1]);
}

TEST_F(GeneratedDatabase, DcGainFollowsTheSettingCornerAndBlock) {
    // Per stage: -1.5 dB + 0.75 dB per DC step; the fast corner adds 0.3 dB, the slow one
    // removes 0.4 dB; the VGA's gain is its linear setting.
    const CtleDatabase typ = load("V10KX_CTLE.kvreledata", kHighGainPathLabel);
    const CtleDatabase fast = load("V10KX_CTLE_V1p1_F.kvreledata", kHighGainPathLabel);
    const CtleDatabase slow = load("V10KX_CTLE_V1p0_S.kvreledata", kHighGainPathLabel);
    for (int b = 0; b < 5; ++b) {
        for (int stage = 0; stage < 4; ++stage) {
            const std::size_t row = 1 + 2 * stage;
            EXPECT_NEAR(typ.responses[7][b][2][0].data[row][0], -1.5 + 0.75 * b, 1e-12);
            EXPECT_NEAR(fast.responses[7][b][2][0].data[row][0], -1.2 + 0.75 * b, 1e-12);
            EXPECT_NEAR(slow.responses[7][b][2][0].data[row][0], -1.9 + 0.75 * b, 1e-12);
        }
    }
    const CtleDatabase vga = load("V10KX_VGA_Response.kvreledata", kVgaPathLabel);
    const double linear[] = {0.5, 0.8, 1.1, 1.3, 1.5, 1.65, 1.8, 2.0};
    for (int a = 0; a < 8; ++a) {
        EXPECT_NEAR(vga.responses[a][0][3][0].data[1][0], 20 * std::log10(linear[a]), 1e-12);
    }
}

TEST_F(GeneratedDatabase, PeakingGrowsWithTheAcGainSetting) {
    // Bandwidth key 16 places the first pole at 10 GHz; every stage boosts more there as the
    // AC gain rises.
    const CtleDatabase hg = load("V10KX_CTLE.kvreledata", kHighGainPathLabel);
    for (std::size_t row = 1; row < 9; row += 2) {
        double previous = -100.0;
        for (std::size_t a = 0; a < hg.responses.size(); ++a) {
            const double boost = boostAt(hg.responses[a][0][2][0], row, 5e9);
            EXPECT_GT(boost, previous) << "stored AC gain " << a << " row " << row;
            previous = boost;
        }
    }
    // Without peaking the stage only rolls off.
    EXPECT_NEAR(peakOverDc(hg.responses[0][0][2][0].data[1]), 0.0, 1e-9);

    const CtleDatabase lg = load("V10KX_CTLE2_V1p0.kvreledata", kHighDataRatePathLabel);
    ASSERT_EQ(lg.responses.size(), 16u);
    ASSERT_EQ(lg.responses[0][0][0][0].rows, 3u);
    double previous = -1.0;
    for (std::size_t a = 1; a < 16; ++a) {
        const double peaking = peakOverDc(lg.responses[a][0][3][0].data[1]);
        EXPECT_GT(peaking, previous);
        previous = peaking;
    }
    // 15 dB of zero-to-pole separation shows as most of 15 dB of peaking, never more.
    EXPECT_GT(previous, 9.0);
    EXPECT_LT(previous, 15.0);
}

TEST_F(GeneratedDatabase, PhaseIsContinuousAndStartsAtZero) {
    const CtleDatabase hg = load("V10KX_CTLE_S.kvreledata", kHighGainPathLabel);
    for (const auto& rec : {hg.responses[23][4][3][0], hg.responses[0][0][0][0]}) {
        for (std::size_t row = 2; row < rec.rows; row += 2) {
            const auto& p = rec.data[row];
            EXPECT_EQ(p[0], 0.0);
            for (std::size_t i = 1; i < p.size(); ++i) ASSERT_LT(std::abs(p[i] - p[i - 1]), 180.0);
            // Two poles, one zero and a delay: the phase keeps falling at high frequency.
            EXPECT_LT(p.back(), -90.0);
        }
    }
}

TEST_F(GeneratedDatabase, AmplitudeCurvesSaturateSmoothly) {
    const CtleDatabase qpi = load("V10KX_CTLE3_F.kvreledata", kQpiPathLabel);
    ASSERT_EQ(qpi.curves.size(), 1u);
    ASSERT_EQ(qpi.curves[0].size(), 3u);
    const ResponseRecord& c = qpi.curves[0][0];
    ASSERT_EQ(c.rows, 4u);  // a second pair for the later stages
    // QPI runs at 1.0 V: 0.45 V saturation for the first pair, 0.55 V for the second.
    for (std::size_t pair = 0; pair < 2; ++pair) {
        const double sat = pair == 0 ? 0.45 : 0.55;
        const auto& x = c.data[2 * pair];
        const auto& y = c.data[2 * pair + 1];
        EXPECT_DOUBLE_EQ(x.front(), -2.0);
        EXPECT_DOUBLE_EQ(x.back(), 2.0);
        EXPECT_NEAR(y.back(), sat * std::tanh(2.0 / sat), 1e-12);
        for (std::size_t i = 1; i < y.size(); ++i) {
            ASSERT_GT(y[i], y[i - 1]);
            ASSERT_LT(std::abs(y[i]), sat);
        }
    }
    // The 0.9 V supply lowers the saturation level by 10 %.
    const CtleDatabase vga = load("V10KX_VGA_Response.kvreledata", kVgaPathLabel);
    EXPECT_NEAR(vga.curves[1][7].data[1].back(), 0.396 * std::tanh(2.0 / 0.396), 1e-12);
}

TEST_F(GeneratedDatabase, DfeMapsHoldMonotonicTablesPerVgaBandwidth) {
    // Full-scale voltage of tap 2 per map: BW1 (key 28) ... BW4 (key 4).
    const double tap2[] = {0.159, 0.212, 0.318, 0.635};
    const double ranges[] = {254, 254, 254, 126, 126, 62, 62, 126, 126, 126, 126};
    for (int digit = 1; digit <= 4; ++digit) {
        ContainerReader r(dir->file("V10KX_RX_DFE_Map_BW" + std::to_string(digit) + ".kvrrxdata"));
        ASSERT_TRUE(r.IsOpen()) << digit;
        std::uint32_t taps = 0, second = 0, rows = 0, cols = 0;
        std::vector<double> maxCodes, minCodes;
        ASSERT_TRUE(r.ReadU32(taps, "taps") && r.ReadU32(second, "second") &&
                    r.ReadDoubleVector(maxCodes, "max") && r.ReadDoubleVector(minCodes, "min"));
        ASSERT_EQ(taps, 11u);
        std::vector<std::vector<double>> tables[2];
        for (auto& table : tables) {
            ASSERT_TRUE(r.ReadU32(rows, "rows") && r.ReadU32(cols, "cols"));
            ASSERT_EQ(rows, 11u);
            table.resize(rows);
            for (auto& row : table) ASSERT_TRUE(r.ReadDoubles(row, cols, "row"));
        }
        EXPECT_EQ(r.Remaining(), 0u);
        for (std::size_t k = 0; k < 11; ++k) {
            EXPECT_EQ(maxCodes[k], ranges[k] / 2);
            EXPECT_EQ(minCodes[k], -ranges[k] / 2);
            ASSERT_GT(cols, maxCodes[k]);
            for (std::size_t j = 1; j < cols; ++j) {
                ASSERT_GT(tables[0][k][j], tables[0][k][j - 1]);
                ASSERT_LT(tables[1][k][j], tables[1][k][j - 1]);
            }
        }
        // The receiver's upper limit of a tap: minus the negative-side voltage at the lowest code.
        EXPECT_NEAR(-tables[1][1][static_cast<std::size_t>(-minCodes[1])], tap2[digit - 1], 1e-12);
        EXPECT_NEAR(tables[0][0][127], 0.529, 1e-12);
    }
}

// The settings of the receiver that reach a lookup, each over its whole allowed range. The
// other table parameters (hg_bw_sel, cdr_bandwidth, cdr_sel, temp_grade) never enter a lookup.
struct SupplyCase {
    std::string label;  // supply label and setting stored by the receiver
    double bitRate;
};

std::vector<ResponseRequest> everyReceiverRequest(bool qpi) {
    std::vector<ResponseRequest> out;
    auto add = [&](double ac, double dc, double bw, const std::string& variant,
                   const std::string& path) {
        ResponseRequest r;
        r.acGain = ac;
        r.dcGain = dc;
        r.bandwidth = bw;
        r.variant = variant;
        r.path = path;
        r.family = "Vanta 10 KT";
        out.push_back(r);
    };
    const double bandwidthKeys[] = {4, 8, 16, 28};  // eqz_bw_sel / vga_bw_sel index 0..3
    if (qpi) {
        for (const char* vcm : {"0p125V", "0p25V", "0p35V"}) add(0, 0, 16, vcm, "QPI");
        add(7, 0, 28, "H", "VGA");
        return out;
    }
    for (int bwIndex = 0; bwIndex < 4; ++bwIndex) {
        for (int ac = 0; ac <= 15; ++ac) add(ac, 0, bandwidthKeys[bwIndex], "H", "Low-Gain");
        const bool odd = bwIndex % 2 == 1;
        for (int dc = 0; dc <= 4; ++dc) {
            for (int ac = 0; ac <= 28; ++ac) {
                add(ac, dc, odd ? 16 : 8, "H", odd ? "High-Gain, High BW" : "High-Gain, Low BW");
            }
        }
        for (int gain = 0; gain <= 7; ++gain) add(gain, 0, bandwidthKeys[bwIndex], "H", "VGA");
    }
    return out;
}

TEST_F(GeneratedDatabase, EveryReceiverSettingFindsItsRecords) {
    const std::string base = dir->path().string() + "/";
    std::vector<SupplyCase> supplies = {{"1.0 V", 10e9}, {"1.1 V", 17.5e9}, {"0.9 V", 6e9}};
    // Before the first construction the supply setting is "Default": the bit rate decides.
    for (double rate : {2.5e9, 10.3125e9, 12e9, 14.2e9, 16e9, 28e9}) {
        supplies.push_back({"Default", rate});
    }
    std::size_t lookups = 0;
    for (const char* corner : {"Typical", "Fast", "Slow"}) {
        for (const auto& supply : supplies) {
            for (bool qpi : {false, true}) {
                ResponseDatabaseFiles files;
                files.highGain = base + kHighGainCtleFile;
                files.highDataRate = base + kHighDataRateCtleFile;
                files.qpi = base + kQpiCtleFile;
                files.vga = base + kVgaResponseFile;
                files.corner = corner;
                // QPI runs at 1.0 V.
                files.supplyLabel = qpi && supply.label != "Default" ? "1.0 V" : supply.label;
                files.supplySetting = files.supplyLabel;
                SetResponseDatabaseFiles(files);
                ReleaseResponseCache();

                testing::internal::CaptureStdout();
                for (ResponseRequest r : everyReceiverRequest(qpi)) {
                    r.bitRate = supply.bitRate;
                    ResponseSelection s;
                    ++lookups;
                    ASSERT_TRUE(LookupResponse(s, r))
                        << corner << " " << supply.label << " " << r.path << " ac " << r.acGain
                        << " dc " << r.dcGain << " bw " << r.bandwidth << " " << r.variant;
                    const std::uint32_t rows = (r.path == "VGA" || r.path == "Low-Gain") ? 3u : 9u;
                    ASSERT_EQ(s.response.rows, rows);
                    ASSERT_GE(s.curve.rows, r.path == "QPI" ? 4u : 2u);
                    ASSERT_EQ(s.fitA.size(), 14u);
                    ASSERT_EQ(s.fitB.size(), 14u);
                    ASSERT_EQ(s.gainsB.size(), 2u);
                }
                // Every file was found under its corner/version name.
                EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << corner << supply.label;

                // Every curve cell a selection rule asks for is inside its table (no fallback).
                ResponseCache& cache = TheResponseCache();
                std::lock_guard<std::mutex> lock(cache.mutex);
                const auto& s = cache.slots;
                ASSERT_GE(s[ResponseCache::HighGain].curves.size(), 4u);
                EXPECT_GE(s[ResponseCache::HighGain].curves[0].size(), 2u);
                EXPECT_GE(s[ResponseCache::HighDataRate].curves.size(), 4u);
                EXPECT_GE(s[ResponseCache::HighDataRate].curves[0].size(), 11u);
                EXPECT_GE(s[ResponseCache::Vga].curves.size(), 4u);
                EXPECT_GE(s[ResponseCache::Vga].curves[0].size(), 8u);
                ASSERT_EQ(s[ResponseCache::Qpi].curves.size(), 1u);
                EXPECT_GE(s[ResponseCache::Qpi].curves[0].size(), 3u);
            }
        }
    }
    ReleaseResponseCache();
    SetResponseDatabaseFiles(ResponseDatabaseFiles{});
    // 3 corners x 9 supply cases x (676 lookups without QPI + 4 with it).
    EXPECT_EQ(lookups, 3u * 9u * 680u);
}

TEST(RxDescription, ProblemsNameTheFileAndTheField) {
    TempDir dir;
    const std::string name = dir.file("rx.json");
    auto expectError = [&](const std::string& text, const std::string& fragment) {
        std::ofstream(name) << text;
        try {
            mkdb::readRxDescription(name);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
        }
    };
    expectError("{ not json", "not valid JSON");
    expectError("{}", "missing \"family\"");

    // The shipped description with one field broken at a time.
    std::ifstream in(mkdb::defaultRxDescription());
    const std::string good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto broken = [&](const std::string& from, const std::string& to) {
        std::string s = good;
        const auto at = s.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return s.replace(at, from.size(), to);
    };
    expectError(broken("\"stopHz\": 1e11", "\"stopHz\": 3e10"), "at least 40 GHz");
    expectError(broken("\"points\": 81", "\"points\": 9"), "amplitudeCurve.points");
    expectError(broken("\"stored\": 24", "\"stored\": 30"), "blocks[0].acGain");
    expectError(broken("\"codesPerTable\": 128", "\"codesPerTable\": 100"), "codesPerTable");
    // A code range splits into two equal halves, and must fit the table before any conversion.
    expectError(broken("\"tapRanges\": [254,", "\"tapRanges\": [253,"), "dfeMaps.tapRanges");
    expectError(broken("\"tapRanges\": [254,", "\"tapRanges\": [1e300,"), "dfeMaps.tapRanges");
    expectError(broken("\"poleHz\": [3e9, 6e9, 10e9, 14e9] },\n      \"secondPoleRatio\": 2.0",
                       "\"poleHz\": [3e9, 6e9] },\n      \"secondPoleRatio\": 2.0"),
                "blocks[0].bandwidth");
    EXPECT_THROW(mkdb::readRxDescription(dir.file("absent.json")), std::runtime_error);
}

TEST(RxDescription, UnwritableDirectoryIsAnError) {
    TempDir dir;
    EXPECT_THROW(mkdb::writeRxDatabase(mkdb::defaultRxDescription(), dir.path() / "no" / "such"),
                 std::runtime_error);
}

TEST(StageModel, UnwrapRemovesWholeTurnsOnly) {
    // Steps of -340, +160, +170, -335 degrees: the first and last are a turn off.
    const auto u = mkdb::unwrapDegrees({170, -170, -10, 160, -175});
    const std::vector<double> expected = {170, 190, 350, 520, 545};
    ASSERT_EQ(u.size(), expected.size());
    for (std::size_t i = 0; i < u.size(); ++i) EXPECT_NEAR(u[i], expected[i], 1e-12);
}

TEST(StageModel, PoleZeroResponseAtKnownFrequencies) {
    // 6 dB of peaking: wz = wp1 / 2. At f = fp1: |1 + 2j| / (|1 + j| |1 + j/2|) = sqrt(5) /
    // (sqrt(2) sqrt(1.25)) = sqrt(2); phase atan(2) - 45 deg - atan(0.5) (no delay).
    mkdb::StageShape s;
    s.dcGainDb = 3.0;
    s.peakingDb = 20 * std::log10(2.0);
    s.poleHz = 5e9;
    s.secondPoleRatio = 2.0;
    std::vector<double> mag, phase;
    mkdb::sampleStage(s, {0.0, 5e9}, mag, phase);
    EXPECT_NEAR(mag[0], 3.0, 1e-12);
    EXPECT_NEAR(mag[1], 3.0 + 10 * std::log10(2.0), 1e-9);
    const double degrees = 180 / std::acos(-1.0);
    const double expectedPhase = (std::atan(2.0) - std::atan(0.5)) * degrees - 45.0;
    EXPECT_NEAR(phase[1], expectedPhase, 1e-9);
    // A 10 ps delay adds -360 * f * 10 ps degrees: -18 deg at 5 GHz.
    s.delaySeconds = 10e-12;
    mkdb::sampleStage(s, {0.0, 5e9}, mag, phase);
    EXPECT_NEAR(phase[1], expectedPhase - 18.0, 1e-9);
}

}  // namespace
