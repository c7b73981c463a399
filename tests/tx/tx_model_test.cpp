// The transmitter model through its C interface: messages, output parameters, the filtered
// impulse and waveform, and the fall-backs for unusable inputs and databases.
#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

#include "tx_test_support.hpp"

namespace {

using txtest::Params;
using txtest::Taps;
using txtest::TempDir;
using txtest::TxInstance;
using txtest::TypicalSwing;

constexpr int kSpb = 32;
constexpr int kRow = 12 * kSpb;

std::vector<double> Delta(int row = kRow, int columns = 1) {
    std::vector<double> v(static_cast<std::size_t>(row) * columns, 0.0);
    v[0] = 1.0;
    return v;
}

// Expects the impulse response of a unit delta: the five weights, one bit apart, delayed by
// two bits, and zeros elsewhere.
void ExpectTaps(const std::vector<double>& out, const std::array<double, 5>& w) {
    for (int i = 0; i < kRow; ++i) {
        double expected = 0;
        if (i % kSpb == 0 && i / kSpb < 5) expected = w[i / kSpb];
        EXPECT_NEAR(out[i], expected, 1e-12) << "sample " << i;
    }
}

class TxModel : public ::testing::Test {
  protected:
    TxModel() { db_ = txtest::WriteDefaultDatabase(dir_.path()); }

    std::string P(const std::string& extra) const { return Params(dir_.str(), extra); }

    TempDir dir_;
    mkdb::TxDatabase db_;
};

TEST_F(TxModel, IdentificationPathJitterAndOutputParameters) {
    TxInstance m(P(Taps(31, 0, 0, 0, 0)), Delta(), kRow);
    ASSERT_EQ(m.rc(), 1);
    const std::string head =
        "Model Identification: Vanta-10 Tx AMI v1.7\n\n"
        "INFO: \"DLL_Path\" parameter does not exist. Use \"Database_Path\" parameter for data "
        "file accesses.\n"
        "INFO from Database_Path: Path: `" +
        dir_.str() +
        "' was specified.\n"
        "  Bit rate:  10.000000 Gbps\n"
        "  (Tx_Rj  3.750000e-13)\n  (Tx_Dj  1.500000e-12)\n  (Tx_DCD 5.750000e-13)\n"
        "\nUser selections:\n\tVod:\t31\n\tPretap2:\t0\n\tPretap1:\t0\n\tTap1:\t0\n\tTap2:\t0\n"
        "\nCalculated tap weights:\n\tPre2:\t0.000000\n\tPre1:\t0.000000\n\tMain:\t1.200152\n"
        "\tTap1:\t0.000000\n\tTap2:\t0.000000\n";
    EXPECT_EQ(m.msg(), head);
    EXPECT_EQ(m.paramsOut(),
              "(Vanta10_Tx\n  (Description \"Vanta-10 Tx v1.7\")\n  (Tx_Rj  3.750000e-13)\n"
              "  (Tx_Dj  1.500000e-12)\n  (Tx_DCD 5.750000e-13)\n  (Params_Valid True)\n)\n");
    ExpectTaps(m.impulse(), {0, 0, TypicalSwing(31), 0, 0});
}

TEST_F(TxModel, FullPreEmphasisWithInversion) {
    // Full settings at Vod 31: weights 0.05, 0.15, 0.375, 0.1 of the swing, main the rest.
    TxInstance m(P(Taps(31, 7, 15, 31, 15, 1, 1, 1, 1)), Delta(), kRow);
    ASSERT_EQ(m.rc(), 1);
    const double a = TypicalSwing(31);
    ExpectTaps(m.impulse(), {-0.05 * a, -0.15 * a, 0.325 * a, -0.375 * a, -0.1 * a});
    EXPECT_NE(m.msg().find("\tPretap2:\t-7\n\tPretap1:\t-15\n\tTap1:\t-31\n\tTap2:\t-15\n"),
              std::string::npos);
    EXPECT_NE(m.msg().find("\tMain:\t0.390049\n\tTap1:\t-0.450057\n"), std::string::npos)
        << m.msg();
    EXPECT_EQ(m.msg().find("**Warning**"), std::string::npos);
    EXPECT_NE(m.paramsOut().find("(Params_Valid True)"), std::string::npos);
}

TEST_F(TxModel, LowerVodUsesItsOwnRecord) {
    // Vod 16: limits 4, 9, 18, 9; tap1 18 gives 0.375 * 18 / 31 of the swing.
    TxInstance m(P(Taps(16, 0, 0, 18, 0, 0, 0, 1, 0)), Delta(), kRow);
    const double a = TypicalSwing(16);
    const double t1 = 0.375 * 18 / 31;
    ExpectTaps(m.impulse(), {0, 0, (1 - t1) * a, -t1 * a, 0});
    EXPECT_EQ(m.msg().find("**Warning**"), std::string::npos) << m.msg();
}

TEST_F(TxModel, CornerAndSupplySelectTheSwing) {
    TxInstance slow(P("(corner 2) (Vcc 1) " + Taps(31, 0, 0, 0, 0)), Delta(), kRow);
    ExpectTaps(slow.impulse(), {0, 0, TypicalSwing(31) * 0.95 * 1.04, 0, 0});
    TxInstance other(P("(corner fast) (Vcc 7) " + Taps(31, 0, 0, 0, 0)), Delta(), kRow);
    ExpectTaps(other.impulse(), {0, 0, TypicalSwing(31), 0, 0});
    EXPECT_NE(other.paramsOut().find("(Params_Valid True)"), std::string::npos);
}

TEST_F(TxModel, RepairedSettingsAreReported) {
    const struct {
        std::string taps;
        std::string warning;
        std::string selection;
    } cases[] = {
        {Taps(1, 0, 0, 0, 0), "**Warning** Value given for 'Vod' was too low; using '2'.\n",
         "\tVod:\t2\n"},
        {Taps(40, 0, 0, 0, 0), "**Warning** Value given for 'Vod' was too high; using '31'.\n",
         "\tVod:\t31\n"},
        {Taps(31, 0, -3, 0, 0),
         "**Warning** Value given for 'ptap1' was negative and has been set to '0'.\nIn order to "
         "set a negative tap value, use a positive number, here, and set the tap's invert "
         "selector to '1'.\n",
         "\tPretap1:\t0\n"},
        {Taps(31, 8, 0, 0, 0),
         "**Warning** Value given for 'ptap2' was larger than could be set in hardware (7) and "
         "has been limited.\n",
         "\tPretap2:\t7\n"},
        {Taps(2, 0, 0, 10, 0),
         "**Warning** Value given for 'tap1' was too high, given the Vod selection.\n  It has "
         "been left unchanged.\n",
         "\tTap1:\t10\n"},
        {Taps(31, 0, 0, 0, 4), "**Warning** Tap 2 can only be effective when Tap 1 is enabled.\n",
         "\tTap2:\t4\n"},
    };
    for (const auto& c : cases) {
        TxInstance m(P(c.taps), Delta(), kRow);
        ASSERT_EQ(m.rc(), 1);
        EXPECT_NE(m.msg().find(c.warning), std::string::npos) << c.taps << "\n" << m.msg();
        EXPECT_NE(m.msg().find(c.selection), std::string::npos) << c.taps << "\n" << m.msg();
        EXPECT_NE(m.paramsOut().find("(Params_Valid False)"), std::string::npos) << c.taps;
    }
    // A value equal to its hardware limit passes.
    TxInstance atLimit(P(Taps(31, 7, 0, 0, 0)), Delta(), kRow);
    EXPECT_NE(atLimit.paramsOut().find("(Params_Valid True)"), std::string::npos);
    // Tap1 10 at Vod 2 keeps its value and its weight: 0.375 * 10 / 31 of the swing.
    TxInstance kept(P(Taps(2, 0, 0, 10, 0)), Delta(), kRow);
    const double t1 = 0.375 * 10 / 31;
    ExpectTaps(kept.impulse(), {0, 0, (1 - t1) * TypicalSwing(2), t1 * TypicalSwing(2), 0});
}

TEST_F(TxModel, MissingTapFallsBackToDefaults) {
    TxInstance m(P("(Vod 20)"), Delta(), kRow);
    ASSERT_EQ(m.rc(), 1);
    EXPECT_NE(m.msg().find("**Warning** The requested node name was not found: ptap2\nUsing "
                           "default values: Vod = 31; all taps = 0.\n"),
              std::string::npos)
        << m.msg();
    EXPECT_NE(m.msg().find("\tVod:\t31\n\tPretap2:\t0\n\tPretap1:\t0\n\tTap1:\t0\n\tTap2:\t0\n"),
              std::string::npos);
    EXPECT_NE(m.paramsOut().find("(Params_Valid False)"), std::string::npos);
    ExpectTaps(m.impulse(), {0, 0, TypicalSwing(31), 0, 0});

    TxInstance badSelector(
        P("(Vod 31) (ptap2 0) (ptap1 0) (tap1 4) (tap2 0) (inv_ptap2 x) (inv_ptap1 0) "
          "(inv_tap1 0) (inv_tap2 0)"),
        Delta(), kRow);
    EXPECT_NE(badSelector.msg().find("**Warning** Unrecognized parameter value: inv_ptap2 = x\n"
                                     "Using default values"),
              std::string::npos)
        << badSelector.msg();
    EXPECT_NE(badSelector.msg().find("\tTap1:\t0\n"), std::string::npos);
}

TEST_F(TxModel, VodProblems) {
    TxInstance bad(P("(Vod abc)"), Delta(), kRow);
    EXPECT_EQ(bad.rc(), 0);
    EXPECT_EQ(bad.msg(), "Unrecognized parameter value: Vod = abc");

    TxInstance absent(P("(ptap2 0) (ptap1 0) (tap1 0) (tap2 0) (inv_ptap2 0) (inv_ptap1 0) "
                        "(inv_tap1 0) (inv_tap2 0)"),
                      Delta(), kRow);
    ASSERT_EQ(absent.rc(), 1);
    EXPECT_NE(absent.msg().find("**Warning** 'Vod' was not found probably due to using "
                                "v10kx_tx_tlv.ami in non-TLV platform.\n"),
              std::string::npos);
    EXPECT_NE(absent.paramsOut().find("(Params_Valid True)"), std::string::npos);

    TxInstance fraction(P(Taps(31, 0, 0, 0, 0).replace(5, 2, "12.7")), Delta(), kRow);
    EXPECT_NE(fraction.msg().find("\tVod:\t12\n"), std::string::npos) << fraction.msg();

    TxInstance unparsable("(Vanta10_Tx (Vod 31)) (x 1)", Delta(), kRow);
    EXPECT_EQ(unparsable.rc(), 0);
    EXPECT_EQ(unparsable.msg().rfind("Parse failed at: (x 1)\nin: ", 0), 0u) << unparsable.msg();
}

TEST_F(TxModel, AggressorColumnsAreUntouched) {
    std::vector<double> matrix = Delta(kRow, 3);
    for (int i = kRow; i < 3 * kRow; ++i) matrix[i] = 0.001 * i - 0.3;
    const std::vector<double> before = matrix;
    TxInstance m(P(Taps(31, 1, 2, 3, 4)), matrix, kRow, 2);
    ASSERT_EQ(m.rc(), 1);
    EXPECT_TRUE(std::equal(before.begin() + kRow, before.end(), m.impulse().begin() + kRow));
}

TEST_F(TxModel, WaveformInBlocksEqualsOneBlockBitForBit) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<double> wave(6000);
    for (double& s : wave) s = u(rng);
    const std::string params = P(Taps(31, 3, 5, 20, 7, 0, 1, 1, 0));

    TxInstance whole(params, Delta(), kRow);
    std::vector<double> one = wave;
    double clock = 0;
    EXPECT_EQ(whole.GetWave(one, &clock), 1);
    EXPECT_EQ(clock, -1.0);
    EXPECT_EQ(whole.paramsOut().find("(Params_Valid True)") != std::string::npos, true);

    TxInstance split(params, Delta(), kRow);
    std::vector<double> joined;
    const int sizes[] = {1, 7, 159, 160, 161, 0, 1000, 13};
    std::size_t pos = 0;
    for (std::size_t b = 0; pos < wave.size(); ++b) {
        const std::size_t n = b < std::size(sizes)
                                  ? std::min<std::size_t>(sizes[b], wave.size() - pos)
                                  : wave.size() - pos;
        std::vector<double> block(wave.begin() + pos, wave.begin() + pos + n);
        split.GetWave(block);
        joined.insert(joined.end(), block.begin(), block.end());
        pos += n;
    }
    ASSERT_EQ(joined.size(), one.size());
    EXPECT_EQ(std::memcmp(joined.data(), one.data(), one.size() * sizeof(double)), 0);
}

TEST_F(TxModel, FirstWaveformBlockStartsFromSilence) {
    // A realistic channel impulse (1/s units, large) must not leak into the first block: the
    // waveform equals the taps applied to the block alone, from its first sample on.
    std::vector<double> impulse(kRow, 0.0);
    for (int i = 0; i < kRow; ++i) impulse[i] = 3.2e10 * std::exp(-i / 40.0);
    const std::string params = P(Taps(31, 0, 4, 10, 0, 0, 1, 1, 0));
    TxInstance m(params, impulse, kRow);
    TxInstance reference(params, std::vector<double>(kRow, 0.0), kRow);
    ASSERT_EQ(m.rc(), 1);
    std::vector<double> wave(6 * kSpb);
    for (int i = 0; i < 6 * kSpb; ++i) wave[i] = (i / kSpb) % 2 ? 0.5 : -0.5;
    std::vector<double> silentStart = wave;
    m.GetWave(wave);
    reference.GetWave(silentStart);
    for (int i = 0; i < 6 * kSpb; ++i) {
        EXPECT_EQ(wave[i], silentStart[i]) << i;
        EXPECT_LE(std::abs(wave[i]), 1.0) << i;
    }
}

TEST_F(TxModel, UnusableFirMapsDisablePreEmphasis) {
    const std::string mapFile = (dir_.path() / "V10KX_TX_FIR_Map.kvrtxdata").string();
    const std::string prefix = "**Warning** The device database file '" + dir_.str() + "/" +
                               "V10KX_TX_FIR_Map.kvrtxdata' is unusable: ";
    const std::string suffix =
        ".\n  Pre-emphasis is disabled: the output is the main cursor only.\n";
    const std::string full = txtest::ReadBytes(mapFile);

    txtest::WriteText(mapFile, full.substr(0, full.size() / 2));
    {
        TxInstance m(P(Taps(31, 0, 0, 0, 0)), Delta(), kRow);
        ASSERT_EQ(m.rc(), 1);
        EXPECT_NE(m.msg().find(prefix + "the file ends inside record 15" + suffix),
                  std::string::npos)
            << m.msg();
        ExpectTaps(m.impulse(), {0, 0, TypicalSwing(31), 0, 0});
    }

    mkdb::TxDatabase db = db_;
    db.firMap.records[20].numPre = 3;
    mkdb::writeFirMapFile(mapFile, db.firMap);
    {
        TxInstance m(P(Taps(31, 0, 0, 0, 0)), Delta(), kRow);
        EXPECT_NE(m.msg().find(prefix +
                               "record 20 has 3 pre-cursor and 2 post-cursor taps instead of 2 "
                               "and 2" +
                               suffix),
                  std::string::npos)
            << m.msg();
    }

    db = db_;
    for (auto& r : db.firMap.records) {
        r.coefA.cols = r.coefB.cols = 8;
        r.coefA.values.resize(40);
        r.coefB.values.resize(40);
    }
    mkdb::writeFirMapFile(mapFile, db.firMap);
    {
        TxInstance m(P(Taps(31, 0, 0, 20, 0)), Delta(), kRow);
        EXPECT_NE(m.msg().find("**Warning** Pre-emphasis is disabled: tap setting 20 at position "
                               "3 lies beyond the 8 coefficient columns of the FIR map.\n  The "
                               "output is the main cursor only.\n"),
                  std::string::npos)
            << m.msg();
        ExpectTaps(m.impulse(), {0, 0, TypicalSwing(31), 0, 0});
        // The requested tap was dropped: a repair like any other.
        EXPECT_NE(m.paramsOut().find("(Params_Valid False)"), std::string::npos);
    }

    std::filesystem::remove(mapFile);
    {
        TxInstance m(P(Taps(31, 0, 0, 0, 0)), Delta(), kRow);
        EXPECT_NE(m.msg().find(prefix + "it cannot be opened" + suffix), std::string::npos);
        ExpectTaps(m.impulse(), {0, 0, TypicalSwing(31), 0, 0});
        // Nothing asked for was lost.
        EXPECT_NE(m.paramsOut().find("(Params_Valid True)"), std::string::npos);
    }
}

TEST_F(TxModel, NoRecordForTheAmplitude) {
    // A VOD table with 20 settings leaves the stored (typical) keys, which the fast swing misses.
    mkdb::TxDatabase db = db_;
    db.vodTable.settings.resize(20);
    mkdb::writeVodTableFile(dir_.path() / "V10KX_TX_VOD.kvrtxdata", db.vodTable);
    TxInstance m(P("(corner 1) " + Taps(31, 0, 0, 10, 0)), Delta(), kRow);
    ASSERT_EQ(m.rc(), 1);
    EXPECT_NE(m.msg().find("**Warning** Pre-emphasis is disabled: no FIR map record belongs to "
                           "the output amplitude 1.260160.\n"),
              std::string::npos)
        << m.msg();
    ExpectTaps(m.impulse(), {0, 0, TypicalSwing(31) * 1.05, 0, 0});
    EXPECT_NE(m.paramsOut().find("(Params_Valid False)"), std::string::npos);
}

TEST_F(TxModel, WithoutAnyDatabaseTheLinearSwingApplies) {
    TempDir empty;
    TxInstance m(Params(empty.str(), Taps(31, 0, 0, 0, 0)), Delta(), kRow);
    ASSERT_EQ(m.rc(), 1);
    ExpectTaps(m.impulse(), {0, 0, 30.0, 0, 0});
}

TEST_F(TxModel, MissingCornerRecordGoesToStandardOutputOncePerLookup) {
    mkdb::TxDatabase db = db_;
    db.vodCoefTable = {db.vodCoefTable.front()};  // Fast, 0.9 V only
    mkdb::writeVodCoefTableFile(dir_.path() / "V10KX_TX_VOD_Coef.kvrtxdata", db.vodCoefTable);
    testing::internal::CaptureStdout();
    TxInstance m(P(Taps(31, 0, 0, 0, 0)), Delta(), kRow);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string line =
        "Cannot find exact TX VOD corner id. Use typical corner in simulation. Please check "
        "Kavor installation integrity.\n";
    std::size_t count = 0;
    for (std::size_t p = out.find(line); p != std::string::npos; p = out.find(line, p + 1)) ++count;
    EXPECT_EQ(count, 32u);  // 31 settings of the VOD table and the user's Vod
    ExpectTaps(m.impulse(), {0, 0, TypicalSwing(31) * 1.05 * 0.95, 0, 0});
    EXPECT_EQ(m.msg().find("**Warning**"), std::string::npos);
}

TEST_F(TxModel, MalformedTextFilesFallBackToTheLinearSwing) {
    txtest::WriteText(dir_.path() / "V10KX_TX_VOD_Coef.kvrtxdata",
                      "Typical\n1.0 V\n3\n0.01\n0.04546\n");
    TxInstance cut(P(Taps(31, 0, 0, 0, 0)), Delta(), kRow);
    EXPECT_NE(cut.msg().find("V10KX_TX_VOD_Coef.kvrtxdata' is unusable: the record starting at "
                             "line 1 is cut off by the end of the file.\n  The output amplitude "
                             "follows the linear fallback.\n"),
              std::string::npos)
        << cut.msg();
    // Linear swing 30 matches no key: main cursor only, with the reason logged.
    ExpectTaps(cut.impulse(), {0, 0, 30.0, 0, 0});

    txtest::WriteText(dir_.path() / "V10KX_TX_VOD.kvrtxdata",
                      "1\n" + std::string(2000, '2') + "\n");
    TxInstance longLine(P(Taps(31, 0, 0, 0, 0)), Delta(), kRow);
    EXPECT_NE(longLine.msg().find("V10KX_TX_VOD.kvrtxdata' is unusable: line 2 is longer than "
                                  "1023 characters"),
              std::string::npos)
        << longLine.msg();
}

TEST_F(TxModel, UnusableLinearTrailerLeavesTheCoefficientTableInCharge) {
    // A zero denominator spoils only the linear fallback; the polynomial still gives the swing,
    // and the keys rebuilt from it still find their records.
    std::string vod = "31\n";
    for (int v = 1; v <= 31; ++v) vod += std::to_string(v) + "\n";
    txtest::WriteText(dir_.path() / "V10KX_TX_VOD.kvrtxdata", vod + "1\n0\n");
    TxInstance m(P(Taps(31, 0, 0, 31, 0, 0, 0, 1, 0)), Delta(), kRow);
    ASSERT_EQ(m.rc(), 1);
    EXPECT_NE(m.msg().find("V10KX_TX_VOD.kvrtxdata' is unusable: its last line (the linear "
                           "denominator) is zero.\n  The linear fallback keeps its earlier "
                           "values.\n"),
              std::string::npos)
        << m.msg();
    EXPECT_NE(m.msg().find("\tMain:\t0.750095\n\tTap1:\t-0.450057\n"), std::string::npos)
        << m.msg();
    ExpectTaps(m.impulse(), {0, 0, 0.625 * 1.200152, -0.375 * 1.200152, 0});
}

TEST_F(TxModel, UnusableSampleGridIsRefused) {
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double sampleInterval, bitTime;
        const char* message;
    } cases[] = {
        {0.0, 1e-10, "Invalid sample_interval 0 s: it must be a positive time."},
        {-3.125e-12, 1e-10, "Invalid sample_interval -3.125e-12 s: it must be a positive time."},
        {nan, 1e-10, "Invalid sample_interval "},
        {inf, 1e-10, "Invalid sample_interval inf s: it must be a positive time."},
        {2e-10, 1e-10,
         "Invalid sample_interval 2e-10 s: it is longer than the bit time of 1e-10 s."},
        {1e-10 / 32, 0.0, "Invalid bit_time 0 s: it must be a positive time."},
        {1e-10 / 32, nan, "Invalid bit_time "},
        {1e-10 / 32, -1e-10, "Invalid bit_time -1e-10 s: it must be a positive time."},
    };
    for (const auto& c : cases) {
        TxInstance m(P(Taps(20, 0, 0, 0, 0)), Delta(), kRow, 0, c.sampleInterval, c.bitTime);
        EXPECT_EQ(m.rc(), 0) << c.message;
        EXPECT_EQ(m.msg().rfind(c.message, 0), 0u) << m.msg();
        EXPECT_EQ(m.impulse(), Delta());
    }
    // One sample per bit is the coarsest usable grid.
    TxInstance coarsest(P(Taps(20, 0, 0, 0, 0)), Delta(), kRow, 0, 1e-10, 1e-10);
    EXPECT_EQ(coarsest.rc(), 1);
    EXPECT_NEAR(coarsest.impulse()[2], TypicalSwing(20), 1e-12);
}

TEST_F(TxModel, SampleGridTooFineForTheTapsStillAppliesTheSwing) {
    // 1e10 samples per bit: the taps cannot be laid out, the swing still applies.
    std::vector<double> impulse = Delta();
    impulse[5] = -0.25;
    TxInstance m(P(Taps(20, 0, 0, 10, 0)), impulse, kRow, 0, 1e-20, 1e-10);
    ASSERT_EQ(m.rc(), 1);
    EXPECT_NE(m.msg().find("**Warning** A bit time of 1e-10 s sampled every 1e-20 s gives more "
                           "than 65536 samples per bit.\n  Pre-emphasis is disabled: the output "
                           "is the main cursor only.\n"),
              std::string::npos)
        << m.msg();
    EXPECT_NE(m.paramsOut().find("(Params_Valid False)"), std::string::npos);
    const double swing = TypicalSwing(20);  // 0.01 + 0.04546 * 20 - 0.000228 * 400 = 0.828
    EXPECT_NEAR(swing, 0.828, 1e-12);
    std::vector<double> expected(impulse.size(), 0.0);
    expected[0] = swing;
    expected[5] = -0.25 * swing;
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(m.impulse()[i], expected[i], 1e-12) << i;
    std::vector<double> wave{0.5, -0.5, 0.25};
    m.GetWave(wave);
    EXPECT_NEAR(wave[0], 0.414, 1e-12);
    EXPECT_NEAR(wave[1], -0.414, 1e-12);
    EXPECT_NEAR(wave[2], 0.207, 1e-12);
}

TEST_F(TxModel, NumbersBeyondIntSaturateAndAreRepairedLikeOtherOutOfRangeValues) {
    TxInstance high(P("(Vod 2147483648)" + Taps(31, 0, 0, 0, 0).substr(8)), Delta(), kRow);
    ASSERT_EQ(high.rc(), 1) << high.msg();
    EXPECT_NE(high.msg().find("**Warning** Value given for 'Vod' was too high; using '31'.\n"),
              std::string::npos)
        << high.msg();
    EXPECT_NE(high.paramsOut().find("(Params_Valid False)"), std::string::npos);

    TxInstance low(P("(Vod -99999999999)" + Taps(31, 0, 0, 0, 0).substr(8)), Delta(), kRow);
    ASSERT_EQ(low.rc(), 1) << low.msg();
    EXPECT_NE(low.msg().find("**Warning** Value given for 'Vod' was too low; using '2'.\n"),
              std::string::npos);
    ExpectTaps(low.impulse(), {0, 0, TypicalSwing(2), 0, 0});

    // The other settings stay as given: no fall-back to Vod 31 and zero taps. 2^32 would wrap
    // round to 0 in a 32-bit scan; saturated, it is a non-zero selector.
    TxInstance taps(P("(Vod 20) (ptap2 0) (ptap1 5000000000) (tap1 -5000000000) (tap2 0) "
                      "(inv_ptap2 0) (inv_ptap1 4294967296) (inv_tap1 0) (inv_tap2 0)"),
                    Delta(), kRow);
    ASSERT_EQ(taps.rc(), 1);
    EXPECT_NE(taps.msg().find("**Warning** Value given for 'ptap1' was larger than could be set "
                              "in hardware (15) and has been limited.\n"),
              std::string::npos)
        << taps.msg();
    EXPECT_NE(taps.msg().find("**Warning** Value given for 'tap1' was negative"),
              std::string::npos);
    EXPECT_EQ(taps.msg().find("Using default values"), std::string::npos);
    EXPECT_NE(taps.msg().find("\tVod:\t20\n\tPretap2:\t0\n\tPretap1:\t-15\n\tTap1:\t0\n"),
              std::string::npos)
        << taps.msg();
    EXPECT_NE(taps.paramsOut().find("(Params_Valid False)"), std::string::npos);
}

TEST_F(TxModel, BytesAbove127InValuesAreAccepted) {
    const std::string path = "\"/home/jos\xc3\xa9/kit\"";
    TxInstance m("(Vanta10_Tx (DLL_Path " + path + ") (Database_Path \"" + dir_.str() + "\") " +
                     Taps(20, 0, 0, 0, 0) + ")",
                 Delta(), kRow);
    ASSERT_EQ(m.rc(), 1) << m.msg();
    EXPECT_NE(m.msg().find("\tVod:\t20\n"), std::string::npos) << m.msg();
    ExpectTaps(m.impulse(), {0, 0, TypicalSwing(20), 0, 0});
}

TEST_F(TxModel, SamplesPerBitIsTheTruncatedQuotient) {
    // 1e-10 / (1e-10 / 11) is 10.999999999999998: ten samples per bit.
    constexpr int spb = 10;
    std::vector<double> impulse(100, 0.0);
    impulse[0] = 1.0;
    TxInstance m(P(Taps(31, 0, 0, 0, 0)), impulse, 100, 0, 1e-10 / 11, 1e-10);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(m.impulse()[i] != 0.0, i == 2 * spb) << i;

    std::vector<double> one(20, 0.0);
    one[0] = 1.0;
    TxInstance single(P(Taps(31, 0, 0, 31, 0)), one, 20, 0, 1e-10, 1e-10);
    EXPECT_NEAR(single.impulse()[2], 0.625 * TypicalSwing(31), 1e-12);
    EXPECT_NEAR(single.impulse()[3], 0.375 * TypicalSwing(31), 1e-12);
}

TEST_F(TxModel, ConcurrentConstructionsDoNotMix) {
    TempDir other;
    mkdb::TxDatabase linear = db_;
    linear.vodCoefTable.clear();
    mkdb::writeTxDatabase(linear, other.path());
    const std::string a = P("(corner 2) " + Taps(20, 1, 2, 9, 3));
    const std::string b = Params(other.str(), Taps(31, 0, 0, 0, 0));
    std::string expectA, expectB;
    {
        TxInstance ma(a, Delta(), kRow);
        TxInstance mb(b, Delta(), kRow);
        expectA = ma.msg();
        expectB = mb.msg();
    }
    std::atomic<int> mismatches{0};
    auto run = [&](const std::string& params, const std::string& expect) {
        for (int i = 0; i < 25; ++i) {
            TxInstance m(params, Delta(), kRow);
            if (m.msg() != expect) ++mismatches;
        }
    };
    std::thread t1(run, a, expectA);
    std::thread t2(run, b, expectB);
    t1.join();
    t2.join();
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
