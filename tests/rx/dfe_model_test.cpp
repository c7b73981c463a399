// The DFE and clock recovery of the receiver library, through its C interface: set-up texts,
// unusable maps, the tap report, clock times a simulator samples with, two receivers in one
// process, the dumps, and statistical mode.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "dfe_test_support.hpp"
#include "rx_test_support.hpp"

using namespace rxtest;

namespace {

constexpr double kBitTime = 1e-10;
constexpr int kSpb = 32;
constexpr double kDt = kBitTime / kSpb;

std::vector<double> DeltaImpulse() { return dfetest::DeltaImpulse(kDt); }

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// Output samples and clock times of a whole waveform run through `rx` in blocks.
struct BlockRun {
    std::vector<double> output;
    std::vector<double> clockTimes;
    std::string lastParamsOut;
};

BlockRun RunBlocks(RxInstance& rx, const std::vector<double>& wave, std::size_t block) {
    BlockRun r;
    std::vector<double> clocks(block + 1);
    for (std::size_t start = 0; start < wave.size(); start += block) {
        std::vector<double> part(wave.begin() + start,
                                 wave.begin() + std::min(wave.size(), start + block));
        clocks.assign(part.size() + 1, 0.0);
        EXPECT_EQ(rx.GetWave(part, clocks), 1);
        for (std::size_t i = 0; clocks[i] != -1.0; ++i) {
            EXPECT_LT(i, (part.size() + kSpb - 1) / kSpb);  // one per started bit
            r.clockTimes.push_back(clocks[i]);
        }
        r.output.insert(r.output.end(), part.begin(), part.end());
    }
    r.lastParamsOut = rx.lastParamsOut();
    return r;
}

// Decision errors of a simulator that samples the output half a bit after each clock time,
// from bit `from` on; the bits are centred `delay` + 16 samples into their 32.
int ErrorsAtClockTimes(const BlockRun& r, const std::vector<int>& bits, double delay,
                       std::size_t from, double period = kSpb) {
    int errors = 0;
    for (double t : r.clockTimes) {
        const double at = (t + kBitTime / 2) / kDt;
        const auto i = static_cast<std::size_t>(std::lround(at));
        const auto bit = static_cast<std::size_t>((at - delay) / period);
        if (bit < from || i >= r.output.size()) continue;
        errors += (r.output[i] > 0) != (bits[bit] == 1);
    }
    return errors;
}

class DfeModelTest : public dfetest::DfeDatabaseTest {};

}  // namespace

TEST_F(DfeModelTest, SetUpBoundsTheSettingsWithTheirWarnings) {
    std::vector<double> impulse = DeltaImpulse();
    RxInstance rx(impulse, kDt, kBitTime,
                  Params(dir.path(), {{"dfe", "(mode 1)"},
                                      {"float_start", "5"},
                                      {"tap_1", "200"},
                                      {"tap_6", "-40"},
                                      {"tap_2", "10"}}));
    ASSERT_TRUE(rx.ok());
    const std::string& m = rx.message();
    EXPECT_NE(m.find("WARNING: Value given for `float_start': 5 is too small. Bounding to: 8.\n"),
              std::string::npos)
        << m;
    EXPECT_NE(m.find("WARNING: Value given for DFE tap_1: 200 is too large.\n\tBounding to: 127\n"),
              std::string::npos);
    EXPECT_NE(m.find("WARNING: Value given for DFE tap_6: -40 is too large.\n\tBounding to: -31\n"),
              std::string::npos);
    EXPECT_EQ(Count(m, "is too large"), 2u);
    EXPECT_EQ(m.find("Info: Please check"), std::string::npos);
    EXPECT_EQ(m.find("not available"), std::string::npos);

    RxInstance big(impulse, kDt, kBitTime,
                   Params(dir.path(), {{"dfe", "(mode 2)"}, {"float_start", "70"}}));
    EXPECT_NE(big.message().find(
                  "WARNING: Value given for `float_start': 70 is too big. Bounding to: 61.\n"),
              std::string::npos);

    // Above 16 Gb/s the handbook line.
    RxInstance fast(impulse, 1 / 20e9 / kSpb, 1 / 20e9, Params(dir.path(), {{"dfe", "(mode 2)"}}));
    EXPECT_EQ(
        Count(fast.message(), "Info: Please check Vanta 10 Transceiver Handbook for DFE usage.\n"),
        1u);
}

TEST_F(DfeModelTest, TapReportAfterEveryBlock) {
    // Map BW4 (vga_bw_sel 1): tap 2 steps of 0.635 / 127 V; tap 1 one-sided, 0.529 V full scale.
    std::vector<double> impulse = DeltaImpulse();
    RxInstance rx(
        impulse, kDt, kBitTime,
        Params(dir.path(),
               {{"dfe", "(mode 1)"}, {"tap_1", "40"}, {"tap_2", "10"}, {"tap_3", "-20"}}));
    ASSERT_TRUE(rx.ok());
    // Fixed taps are reported from AMI_Init on, as the codes set.
    EXPECT_NE(rx.paramsOut().find(" (tap_1 40 "), std::string::npos) << rx.paramsOut();
    const std::vector<int> bits = dfetest::RandomBits(200, 1);
    const BlockRun r = RunBlocks(rx, dfetest::IsiWave(bits, {0.3}, kSpb), 6400);
    const std::string expected =
        std::string("(Vanta10_Rx\n") + " (tap_1 40 0.166614) (tap_2 10 0.050000)" +
        " (tap_3 -20 -0.100000) (tap_4 0 0.000000) (tap_5 0 0.000000) (tap_6 0 0.000000)" +
        " (tap_7 0 0.000000) (tap_8 0 0.000000) (tap_9 0 0.000000) (tap_10 0 0.000000)" +
        " (tap_11 0 0.000000) (cdr_lock_bit -1) (clock_times_dropped 0))\n";
    EXPECT_EQ(r.lastParamsOut, expected);

    // DFE_tap_length 5: five taps; whatever float_start says, no floating taps.
    RxInstance five(
        impulse, kDt, kBitTime,
        Params(dir.path(), {{"dfe", "(mode 2)"}, {"DFE_tap_length", "5"}, {"float_start", "30"}}));
    const BlockRun r5 = RunBlocks(five, dfetest::IsiWave(bits, {0.3}, kSpb), 6400);
    EXPECT_EQ(Count(r5.lastParamsOut, "(tap_"), 5u) << r5.lastParamsOut;
    EXPECT_EQ(Count(r5.lastParamsOut, "(tap_5 "), 1u);
}

TEST_F(DfeModelTest, FixedTapsAfterTheEstimationWindowScaleWithThePeak) {
    // Clean bits of +-0.15 V: the peak is 0.15 V, each weight doubles its code's step, and the
    // reported codes are the codes given.
    std::vector<double> impulse = DeltaImpulse();
    RxInstance rx(impulse, kDt, kBitTime,
                  Params(dir.path(), {{"dfe", "(mode 1)"}, {"tap_2", "10"}, {"tap_4", "63"}}));
    const std::vector<int> bits = dfetest::RandomBits(6000, 2);
    const BlockRun r = RunBlocks(rx, dfetest::IsiWave(bits, {0.15}, kSpb, 1.0, 4.0), 8192);
    EXPECT_NE(r.lastParamsOut.find(" (tap_2 10 0.100000)"), std::string::npos) << r.lastParamsOut;
    // 63 steps of 0.315 / 63 * 2 V exceed the 0.315 V limit: limited, and reported as such.
    EXPECT_NE(r.lastParamsOut.find(" (tap_4 63 0.315000)"), std::string::npos) << r.lastParamsOut;
}

TEST_F(DfeModelTest, UnusableMapLeavesTheDfeOffAndTheClockOn) {
    std::filesystem::remove(dir.path() / "V10KX_RX_DFE_Map_BW4.kvrrxdata");
    mkdb::writeBytes(dir.path() / "V10KX_RX_DFE_Map_BW3.kvrrxdata", {1, 0, 0});
    for (const char* vga : {"1", "2"}) {
        std::vector<double> impulse = DeltaImpulse();
        testing::internal::CaptureStdout();
        RxInstance rx(impulse, kDt, kBitTime,
                      Params(dir.path(), {{"dfe", "(mode 2)"}, {"vga_bw_sel", vga}}));
        const std::string console = testing::internal::GetCapturedStdout();
        ASSERT_TRUE(rx.ok());
        const std::string file = std::string("V10KX_RX_DFE_Map_BW") + (vga[0] == '1' ? "4" : "3");
        const std::regex line("WARNING: The DFE map [^\\n]*" + file +
                              "\\.kvrrxdata cannot be used: [^\\n]+; the DFE stays off\\.\\n");
        EXPECT_TRUE(std::regex_search(rx.message(), line)) << rx.message();
        EXPECT_EQ(Count(rx.message(), "DFE map"), 1u);
        EXPECT_EQ(console, "WARNING: DFE failed to initialize properly!\n");

        const std::vector<int> bits = dfetest::RandomBits(3000, 3);
        const std::vector<double> wave = dfetest::IsiWave(bits, {0.3}, kSpb, 1.0, 9.7);
        const BlockRun r = RunBlocks(rx, wave, 4096);
        // No taps (the DFE is off); the clock's own report.
        EXPECT_TRUE(std::regex_match(
            r.lastParamsOut,
            std::regex(
                "\\(Vanta10_Rx\n \\(cdr_lock_bit -?[0-9]+\\) \\(clock_times_dropped 0\\)\\)\n")))
            << r.lastParamsOut;
        EXPECT_GT(r.clockTimes.size(), 2900u);
        EXPECT_EQ(ErrorsAtClockTimes(r, bits, 9.7, 1000), 0);
    }
}

TEST_F(DfeModelTest, ClockRecoveryOnlyReturnsOneTimeEachBitOfACleanEye) {
    // Once locked, a simulator sampling half a bit after each clock time finds every bit, at
    // either block length, with data whose bit period is 300 ppm longer than the nominal one.
    for (std::size_t block : {1024u, 1u << 17}) {
        std::vector<double> impulse = DeltaImpulse();
        RxInstance rx(impulse, kDt, kBitTime,
                      Params(dir.path(), {{"cdr_bandwidth", "1"}, {"debug", "(enable False)"}}));
        ASSERT_TRUE(rx.ok());
        const std::vector<int> bits = dfetest::RandomBits(20000, 4);
        const std::vector<double> wave = dfetest::IsiWave(bits, {0.25}, kSpb, 1.0003, 13.2);
        const BlockRun r = RunBlocks(rx, wave, block);
        // Without the DFE the samples pass unchanged (but for the rounding of the transforms).
        ASSERT_EQ(r.output.size(), wave.size());
        for (std::size_t i = 0; i < wave.size(); i += 97) ASSERT_NEAR(r.output[i], wave[i], 1e-9);
        EXPECT_EQ(r.lastParamsOut.find("(tap_"), std::string::npos) << r.lastParamsOut;
        EXPECT_NE(r.lastParamsOut.find(" (clock_times_dropped 0))\n"), std::string::npos);
        EXPECT_NEAR(static_cast<double>(r.clockTimes.size()), 20000, 3) << block;
        for (std::size_t i = 1; i < r.clockTimes.size(); ++i) {
            ASSERT_GT(r.clockTimes[i], r.clockTimes[i - 1]);
        }
        // Past the acquisition (the bits start 0.4 bit away from where the clock starts).
        EXPECT_EQ(ErrorsAtClockTimes(r, bits, 13.2, 5000, kSpb * 1.0003), 0) << block;
        // The period found is the data's.
        const double period = (r.clockTimes.back() - r.clockTimes[10000]) /
                              static_cast<double>(r.clockTimes.size() - 1 - 10000);
        EXPECT_NEAR(period / kBitTime, 1.0003, 20e-6);
    }
}

TEST_F(DfeModelTest, AdaptiveDfeClosesFewerBitsThanNone) {
    // Post-cursor interference that closes the eye: the clock alone finds many wrong bits, the
    // adaptive DFE none once it has learnt.
    const std::vector<int> bits = dfetest::RandomBits(40000, 5);
    const std::vector<double> wave = dfetest::IsiWave(bits, {0.3, 0.2, 0.15}, kSpb, 1.0, 6.0);
    int errors[2];
    for (int mode = 0; mode < 2; ++mode) {
        std::vector<double> impulse = DeltaImpulse();
        RxInstance rx(impulse, kDt, kBitTime,
                      Params(dir.path(), {{"dfe", mode ? "(mode 2)" : "(mode 0)"}}));
        const BlockRun r = RunBlocks(rx, wave, 8192);
        errors[mode] = ErrorsAtClockTimes(r, bits, 6.0, 30000);
    }
    EXPECT_GT(errors[0], 1000);
    EXPECT_EQ(errors[1], 0);
}

TEST_F(DfeModelTest, TwoReceiversInOneProcessKeepTheirOwnClocks) {
    const std::vector<int> bitsA = dfetest::RandomBits(8000, 6);
    const std::vector<int> bitsB = dfetest::RandomBits(8000, 7);
    const std::vector<double> waveA = dfetest::IsiWave(bitsA, {0.3, 0.1}, kSpb, 1.0002, 3.0);
    const std::vector<double> waveB = dfetest::IsiWave(bitsB, {0.2}, kSpb, 0.9998, 21.0);
    const std::size_t block = 2048;
    auto params = [&](const char* mode) {
        return Params(dir.path(), {{"dfe", mode}, {"cdr_bandwidth", "2"}});
    };
    std::vector<double> impulseA = DeltaImpulse(), impulseB = DeltaImpulse();
    RxInstance aloneA(impulseA, kDt, kBitTime, params("(mode 2)"));
    const BlockRun soloA = RunBlocks(aloneA, waveA, block);
    RxInstance aloneB(impulseB, kDt, kBitTime, params("(mode 0)"));
    const BlockRun soloB = RunBlocks(aloneB, waveB, block);

    RxInstance a(impulseA, kDt, kBitTime, params("(mode 2)"));
    RxInstance b(impulseB, kDt, kBitTime, params("(mode 0)"));
    std::vector<double> timesA, timesB, clocks(block + 1);
    for (std::size_t start = 0; start < waveA.size(); start += block) {
        for (auto [rx, wave, times] : {std::tuple{&a, &waveA, &timesA}, {&b, &waveB, &timesB}}) {
            if (start >= wave->size()) continue;
            std::vector<double> part(wave->begin() + start,
                                     wave->begin() + std::min(wave->size(), start + block));
            ASSERT_EQ(rx->GetWave(part, clocks), 1);
            for (std::size_t i = 0; clocks[i] != -1.0; ++i) times->push_back(clocks[i]);
        }
    }
    EXPECT_EQ(timesA, soloA.clockTimes);
    EXPECT_EQ(timesB, soloB.clockTimes);
    EXPECT_FALSE(timesA.empty());
}

TEST_F(DfeModelTest, DumpsHoldOneRowPerBitAndOnePerClockPeriod) {
    ScopedCurrentDir cwd(dir.path());
    const std::vector<int> bits = dfetest::RandomBits(1000, 8);
    {
        std::vector<double> impulse = DeltaImpulse();
        RxInstance rx(impulse, kDt, kBitTime,
                      Params(dir.path(), {{"dfe", "(mode 2)"},
                                          {"debug",
                                           "(enable True) (dump_dfe_adaptation True) "
                                           "(dump_cdr_adaptation True)"}}));
        ASSERT_TRUE(rx.ok());
        RunBlocks(rx, dfetest::IsiWave(bits, {0.3}, kSpb), 4000);
    }
    const std::string dfe = ReadFile(dir.path() / "Corvan_V10_Rx_AMI_DFE_Adaptation.txt");
    const std::string cdr = ReadFile(dir.path() / "Corvan_V10_Rx_AMI_CDR_Adaptation.txt");
    const std::string debug = ReadFile(dir.path() / "Corvan_V10_Rx_AMI_Debug.txt");
    // One decided bit per data instant: the first at half a bit, the last before the end.
    EXPECT_EQ(std::count(dfe.begin(), dfe.end(), '\n'), 1000);
    const std::regex tapRow("^( *-?[0-9]+\\.[0-9]{6}\\t){11}$");
    EXPECT_TRUE(std::regex_match(dfe.substr(0, dfe.find('\n')), tapRow)) << dfe.substr(0, 200);
    EXPECT_EQ(cdr.substr(0, cdr.find('\n')), "Clock Period \tLocked");
    EXPECT_EQ(std::count(cdr.begin(), cdr.end(), '\n'), 1 + 999);  // a period between edges
    // 1000 bits are fewer than the two windows of 512 a lock takes.
    EXPECT_NE(cdr.find("\n     1.000000e-10\t0\n"), std::string::npos) << cdr.substr(0, 200);
    EXPECT_EQ(cdr.find("\t1\n"), std::string::npos);
    EXPECT_NE(debug.find("Setting up DFE...\nSetup complete.\n"), std::string::npos);
    EXPECT_NE(debug.find("DFE input: max. = 0.300000, min. = -0.300000.\n"), std::string::npos);
    EXPECT_NE(debug.find("CDR is not locked at time, 0.000000e+00 s.\n"), std::string::npos);

    std::vector<double> impulse = DeltaImpulse();
    RxInstance cdrOnly(impulse, kDt, kBitTime, Params(dir.path(), {{"debug", "(enable True)"}}));
    const std::string cdrDebug = ReadFile(dir.path() / "Corvan_V10_Rx_AMI_Debug.txt");
    EXPECT_NE(cdrDebug.find("Setting up CDR...\nSetup complete.\n"), std::string::npos);
}

TEST_F(DfeModelTest, StatisticalModeLeavesTheImpulseAloneWithoutAdaptedTaps) {
    // Adaptive taps without an adaptation in AMI_Init: nothing is known to write.
    std::vector<double> plain = DeltaImpulse(), withDfe = DeltaImpulse();
    RxInstance off(plain, kDt, kBitTime, Params(dir.path()));
    RxInstance on(withDfe, kDt, kBitTime,
                  Params(dir.path(), {{"dfe", "(mode 2)"}, {"tap_1", "50"}, {"tap_2", "-20"}}));
    ASSERT_TRUE(on.ok());
    EXPECT_EQ(withDfe, plain);
    EXPECT_EQ(on.paramsOut().find("(tap_"), std::string::npos);
}

namespace {

long ReportedCode(const std::string& params, int tap) {
    std::smatch m;
    const std::regex entry("\\(tap_" + std::to_string(tap) + " (-?[0-9]+) (-?[0-9.]+)\\)");
    if (!std::regex_search(params, m, entry)) return -9999;
    return std::stol(m[1]);
}

double ReportedWeight(const std::string& params, int tap) {
    std::smatch m;
    const std::regex entry("\\(tap_" + std::to_string(tap) + " (-?[0-9]+) (-?[0-9.]+)\\)");
    if (!std::regex_search(params, m, entry)) return NAN;
    return std::stod(m[2]);
}

}  // namespace

TEST_F(DfeModelTest, CodesComeBackAsGivenOnAMapWhoseSidesDiffer) {
    // The negative side of every tap reaches half as far again as the positive one.
    mkdb::DfeMap map = dfetest::ShippedDfeMap(4);
    for (auto& row : map.negativeTable) {
        for (double& v : row) v *= 1.5;
    }
    mkdb::writeBytes(dir.path() / "V10KX_RX_DFE_Map_BW4.kvrrxdata", mkdb::encodeDfeMap(map));
    const std::vector<std::pair<int, int>> given = {{1, 40}, {2, -127}, {3, 90}, {4, 20}, {6, -31}};
    const std::vector<int> bits = dfetest::RandomBits(7000, 21);
    const std::vector<double> wave = dfetest::IsiWave(bits, {0.3, 0.02}, kSpb, 1.0, 5.0);
    for (const char* mode : {"(mode 1)", "(mode 2)"}) {
        std::vector<std::pair<std::string, std::string>> params = {{"dfe", mode}};
        for (auto [tap, code] : given)
            params.push_back({"tap_" + std::to_string(tap), std::to_string(code)});
        std::vector<double> impulse = DeltaImpulse();
        RxInstance rx(impulse, kDt, kBitTime, Params(dir.path(), params));
        ASSERT_TRUE(rx.ok());
        // First block (no learning yet) and, for fixed taps, after the weights were scaled.
        const BlockRun first =
            RunBlocks(rx, std::vector<double>(wave.begin(), wave.begin() + 4096), 4096);
        for (auto [tap, code] : given) {
            EXPECT_EQ(ReportedCode(first.lastParamsOut, tap), code) << mode << " tap_" << tap;
        }
        // Weight of a code: code steps of (upper - lower) / span; tap 1 is one-sided (0 ...
        // 1.5 * 0.529 V over 127 codes), tap 2 spans -0.635 ... 1.5 * 0.635 V over 254 codes.
        EXPECT_NEAR(ReportedWeight(first.lastParamsOut, 1), 40 * 1.5 * 0.529 / 127, 1e-6) << mode;
        EXPECT_NEAR(ReportedWeight(first.lastParamsOut, 2), -127 * 2.5 * 0.635 / 254, 1e-6) << mode;
        if (std::string(mode) == "(mode 1)") {
            const BlockRun rest =
                RunBlocks(rx, std::vector<double>(wave.begin() + 4096, wave.end()), 8192);
            for (auto [tap, code] : given) {
                EXPECT_EQ(ReportedCode(rest.lastParamsOut, tap), code) << "tap_" << tap;
            }
        }
    }
}

TEST_F(DfeModelTest, ASmallSignalStillTeachesTheTaps) {
    // Bits of +-4 mV with a first post-cursor of 2 mV: the data level rounds below one step of
    // 10 mV but stays at that step, so the taps still learn the post-cursor (2 mV / 10 mV).
    const std::vector<int> bits = dfetest::RandomBits(40000, 22);
    const std::vector<double> wave = dfetest::IsiWave(bits, {0.004, 0.002}, kSpb, 1.0, 5.0);
    std::vector<double> impulse = DeltaImpulse();
    RxInstance rx(impulse, kDt, kBitTime, Params(dir.path(), {{"dfe", "(mode 2)"}}));
    const BlockRun r = RunBlocks(rx, wave, 8192);
    // Learning at the smallest level is slow; it only has to be under way.
    EXPECT_GT(ReportedWeight(r.lastParamsOut, 1), 0.1) << r.lastParamsOut;
    EXPECT_LT(ReportedWeight(r.lastParamsOut, 1), 0.3) << r.lastParamsOut;
}
