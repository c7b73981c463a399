// The amisim program as a user meets it: bad input, the output folder, the report, the
// warnings, --strict, --list-params and sweeps. The stand-in models keep every run short.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "test_support.hpp"

using amisim_test::CliRun;
using amisim_test::FakeKit;
using amisim_test::readFile;
using amisim_test::runAmisim;

namespace {

nlohmann::json reportOf(const std::string& out) {
    return nlohmann::json::parse(readFile(out + "/report.json"));
}

bool anyContains(const nlohmann::json& list, const std::string& what) {
    for (const auto& s : list)
        if (s.get<std::string>().find(what) != std::string::npos) return true;
    return false;
}

}  // namespace

TEST(Cli, EveryBadInputExitsOneWithOneClearLine) {
    FakeKit k;
    const std::string out = " --out " + k.dir.file("out");
    const std::string base = k.options() + out + " --quiet";
    const std::string afile = k.dir.write("afile", "x");
    const std::string s4p = k.dir.write("c.s4p", "# GHz S MA R 50\n");
    auto withTxLib = [&](const std::string& lib) {
        return " --kit " + k.dir.str() + " --tx-lib " + lib + " --rx-lib " + FAKE_RX_LIB +
               " --tx-ami " + k.cfg.files.txAmi + " --rx-ami " + k.cfg.files.rxAmi + out +
               " --quiet --mode stat";
    };
    struct Case {
        std::string args, says;
    };
    const std::vector<Case> cases{
        {"", "--out DIR is required"},
        {base + " --mode foo", "--mode: 'foo' is not stat, td or both"},
        {base + " --ber 0", "--ber: 0 is outside"},
        {base + " --mode stat --mode td", "--mode is given more than once"},
        {base + " --bits -5", "--bits: '-5' is not a whole number from 100 to 1000000000"},
        {base + " --bits 4294967296", "is not a whole number"},
        {base + " --bits 1", "is not a whole number from 100"},
        {base + " --bits 3000 --ignore-bits 2999 --prbs 7", "at most half the bits"},
        {base + " --bit-rate 1e15 --mode stat", "--bit-rate: 1e15 is outside"},
        {base + " --amplitude 1e9", "--amplitude: 1e9 is outside 0 .. 5 V"},
        {base + " --prbs 8", "--prbs: 8 is not 7, 15, 23 or 31"},
        {base + " --s4p " + k.dir.str(), "is a folder, not a Touchstone file"},
        {base + " --s4p " + k.dir.file("none.s4p"), "does not exist"},
        {base + " --s4p " + s4p + " --loss-db 3", "no effect with --s4p"},
        {base + " --ports 1-3/2-4", "there is none"},
        {base + " --jobs 2", "there is no --sweep"},
        {base + " --nosuch", "--nosuch"},
        {k.options() + " --out " + afile + " --quiet", "exists and is not a folder"},
        {k.options() + " --out /proc/amisim-out --quiet", "cannot create the output folder"},
        {withTxLib(k.dir.file("none.so")), "--tx-lib: the library"},
        {withTxLib(FAKE_RX_LIB), "answers as Fake_Rx"},
        {out + " --kit " + k.dir.file("nokit"), "--kit: the kit folder"},
        {base + " --s4p " + s4p, "no data points"},
    };
    for (const Case& c : cases) {
        const CliRun r = runAmisim(k.dir, c.args);
        EXPECT_EQ(r.status, 1) << c.args << "\n" << r.err;
        EXPECT_EQ(r.err.rfind("amisim: error: ", 0), 0u) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
        // one line, and none of the library's own texts
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        for (const char* leak : {"std::", "max_size", "bad_alloc", "filesystem error"})
            EXPECT_EQ(r.err.find(leak), std::string::npos) << r.err;
    }
    // counts may be written as whole numbers in exponent form
    EXPECT_EQ(runAmisim(k.dir, k.options() + out + " --quiet --bits 2e3 --prbs 7").status, 0);
}

TEST(Cli, VersionHelpAndTheParameterList) {
    FakeKit k;
    CliRun r = runAmisim(k.dir, "--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("amisim ", 0), 0u) << r.out;
    r = runAmisim(k.dir, "--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("--sweep"), std::string::npos);
    r = runAmisim(k.dir, k.options() + " --list-params");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("receiver Fake_Rx"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("corner"), std::string::npos);
    EXPECT_NE(r.out.find("0 = TT, 1 = FF, 2 = SS"), std::string::npos) << r.out;
}

TEST(Cli, ModelWarningsAreShownAndStrictFailsOnThem) {
    FakeKit k;
    const std::string out = k.dir.file("out");
    const std::string args = k.options() + " --out " + out + " --quiet --mode stat --tx warn=1";
    CliRun r = runAmisim(k.dir, args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Fake_Tx: **Warning** fake transmitter-style warning"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Fake_Tx reports Params_Valid False"), std::string::npos);
    nlohmann::json j = reportOf(out);
    EXPECT_TRUE(anyContains(j["warnings"], "fake transmitter-style warning"));
    EXPECT_EQ(j["tx"]["params_valid"], false);
    r = runAmisim(k.dir, args + " --strict");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("amisim: error: --strict"), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::exists(out + "/report.json"));
    // without warnings --strict passes
    EXPECT_EQ(
        runAmisim(k.dir, k.options() + " --out " + out + " --quiet --mode stat --strict").status,
        0);
}

TEST(Cli, OutputFolderLosesOnlyWhatAnEarlierRunWrote) {
    FakeKit k;
    const std::string out = k.dir.file("out");
    const std::string args = k.options() + " --out " + out + " --quiet --bits 2000 --prbs 7";
    ASSERT_EQ(runAmisim(k.dir, args).status, 0);
    ASSERT_TRUE(std::filesystem::exists(out + "/eye_statistical.png"));
    k.dir.write("out/notes.txt", "mine");
    ASSERT_EQ(runAmisim(k.dir, args + " --mode td").status, 0);
    EXPECT_FALSE(std::filesystem::exists(out + "/eye_statistical.png"));
    EXPECT_FALSE(std::filesystem::exists(out + "/eye_contour.csv"));
    EXPECT_TRUE(std::filesystem::exists(out + "/eye_time_domain.png"));
    EXPECT_EQ(readFile(out + "/notes.txt"), "mine");
    const nlohmann::json j = reportOf(out);
    EXPECT_FALSE(j.contains("statistical"));
    for (const auto& p : j["pictures"])
        EXPECT_TRUE(std::filesystem::exists(out + "/" + p.get<std::string>())) << p;
}

TEST(Cli, ReportRecordsTheRunAndProgressIsPlainLinesInAFile) {
    FakeKit k;
    const std::string out = k.dir.file("out");
    const CliRun r = runAmisim(k.dir, k.options() + " --out " + out + " --bits 2000 --prbs 7");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos);
    EXPECT_NE(r.err.find("time domain: 2000 bits in"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.back(), '\n');
    const nlohmann::json j = reportOf(out);
    EXPECT_FALSE(j["version"].get<std::string>().empty());
    EXPECT_TRUE(anyContains(j["command_line"], "--out"));
    EXPECT_EQ(j["tx"]["library"], FAKE_TX_LIB);
    EXPECT_EQ(j["rx"]["library"], FAKE_RX_LIB);
    EXPECT_NE(j["rx"]["parameters_in"].get<std::string>().find("(Fake_Rx"), std::string::npos);
    EXPECT_NE(j["statistical"]["includes"].get<std::string>().find("AMI_Init"), std::string::npos);
    EXPECT_NE(j["time_domain"]["includes"].get<std::string>().find("AMI_GetWave"),
              std::string::npos);
    EXPECT_EQ(j["statistical"]["bathtub"]["ber"].size(),
              j["statistical"]["bathtub"]["phase_ui"].size());
    for (const auto& f : j["csv"])
        EXPECT_TRUE(std::filesystem::exists(out + "/" + f.get<std::string>()));
    // the contour table: a phase column and an upper and lower column per BER
    const std::string contour = readFile(out + "/eye_contour.csv");
    EXPECT_EQ(contour.rfind("phase_ui,upper_mv_ber_1e-03,lower_mv_ber_1e-03,", 0), 0u)
        << contour.substr(0, 200);
    // the statistical title follows the BER
    EXPECT_EQ(
        runAmisim(k.dir, k.options() + " --out " + out + " --quiet --mode stat --ber 1e-15").status,
        0);
    EXPECT_EQ(reportOf(out)["statistical"]["contours"]["levels"].back()["ber"], 1e-15);
}

TEST(Cli, SweepWritesItsTableAndHeatMapAndRunsTheBestPoint) {
    FakeKit k;
    const std::string out = k.dir.file("out");
    const CliRun r = runAmisim(k.dir, k.options() + " --out " + out +
                                          " --quiet --loss-db 0 --mode stat --jobs 2"
                                          " --sweep tx.gain=0.5:1:0.5"
                                          " --sweep rx.gain=0.5,1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(out + "/sweep_eye_height.png"));
    const std::string csv = readFile(out + "/sweep.csv");
    EXPECT_EQ(csv.rfind("tx.gain,rx.gain,eye_height_v,", 0), 0u) << csv;
    // grid order: the first swept parameter changes slowest
    EXPECT_NE(csv.find("\n0.5,0.5,"), std::string::npos);
    EXPECT_LT(csv.find("\n0.5,1,"), csv.find("\n1,0.5,"));
    const nlohmann::json j = reportOf(out);
    EXPECT_EQ(j["sweep"]["best_index"], 3);
    EXPECT_NEAR(j["sweep"]["points"][3]["eye_height"].get<double>(), 0.98, 3e-3);
    // the full run is the best point's
    EXPECT_NE(j["tx"]["parameters_in"].get<std::string>().find("(gain 1)"), std::string::npos);
    EXPECT_NE(r.out.find("best sweep point: tx.gain=1 rx.gain=1"), std::string::npos) << r.out;
}

TEST(Cli, TheReceiversClockTapsAndAdaptedGainsReachTheSummaryReportAndPictures) {
    FakeKit k;
    const std::string out = k.dir.file("out");
    const CliRun r = runAmisim(k.dir, k.options() + " --out " + out +
                                          " --quiet --mode td --bits 3000 --prbs 7"
                                          " --rx clock_ppm=300 --rx clock_settle=800"
                                          " --rx taps=1 --rx adapt=1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("receiver adaptation chose: AC gain 7, DC gain 2, VGA gain 3"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("clock recovery: mean period"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("locked after 800 bits"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("DFE taps at the end: tap_1"), std::string::npos) << r.out;
    const nlohmann::json j = reportOf(out);
    EXPECT_EQ(j["rx"]["adapted_gains"]["ac_gain"], 7);
    EXPECT_EQ(j["rx"]["adapted_gains"]["dc_gain"], 2);
    EXPECT_EQ(j["rx"]["adapted_gains"]["vga_gain"], 3);
    EXPECT_NEAR(j["clock_recovery"]["ppm"].get<double>(), 300, 0.5);
    EXPECT_EQ(j["clock_recovery"]["lock_bit"], 800);
    EXPECT_EQ(j["dfe"]["final_taps"].size(), 2u);
    EXPECT_EQ(j["dfe"]["history"].back()["bit"], 3000);
    for (const char* f : {"clock_period.png", "dfe_taps.png", "clock_period.csv", "dfe_taps.csv"})
        EXPECT_TRUE(std::filesystem::exists(out + "/" + f)) << f;
    // without the receiver's reports none of it is claimed
    const CliRun plain =
        runAmisim(k.dir, k.options() + " --out " + out + " --quiet --mode td --bits 3000 --prbs 7");
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out.find("adaptation chose"), std::string::npos);
    EXPECT_FALSE(reportOf(out)["rx"].contains("adapted_gains"));
    EXPECT_FALSE(std::filesystem::exists(out + "/dfe_taps.png"));
}

TEST(Cli, StrictCountsFailedSweepPointsAndAmisimsWarningsAndRowsShowTheAdaptedGains) {
    FakeKit k;
    const std::string out = k.dir.file("out");
    CliRun r = runAmisim(k.dir, k.options() + " --out " + out +
                                    " --quiet --loss-db 0 --mode stat --strict --rx adapt=1"
                                    " --sweep tx.crash=0:1");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.err.find("--strict"), std::string::npos) << r.err;
    const std::string html = readFile(out + "/report.html");
    EXPECT_EQ(html.find("<p id=\"warnings\">None.</p>"), std::string::npos);
    EXPECT_NE(html.find("sweep point 1 (tx.crash=1) failed"), std::string::npos);
    // the gains the receiver chose, in every row of the table, the CSV and the JSON
    const std::string csv = readFile(out + "/sweep.csv");
    EXPECT_NE(csv.find("adapted_ac_gain,adapted_dc_gain,adapted_vga_gain"), std::string::npos);
    EXPECT_NE(csv.find("\n0,"), std::string::npos);
    EXPECT_NE(csv.substr(csv.find("\n0,")).find(",7,2,3,"), std::string::npos) << csv;
    EXPECT_EQ(reportOf(out)["sweep"]["points"][0]["adapted_gains"]["vga_gain"], 3);
    EXPECT_NE(r.out.find("<- best"), std::string::npos) << r.out;

    // a setting outside the model's list is amisim's own warning: --strict fails on it too
    r = runAmisim(k.dir,
                  k.options() + " --out " + out + " --quiet --mode stat --strict --rx corner=5");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("not in its list of values"), std::string::npos) << r.out;

    // one parameter swept twice, once by its bare name
    r = runAmisim(k.dir, k.options() + " --out " + out +
                             " --mode stat --sweep clock_settle=2:3 --sweep rx.clock_settle=2:3");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("rx.clock_settle is swept twice"), std::string::npos) << r.err;
}
