// The analog ends of the link against independent circuit arithmetic: a source resistance,
// shunt capacitances, a series R-L package and a termination cascaded by hand-written chain
// matrices, compared with amisim's analog channel; the IBIS reader on good and broken files;
// the kit's front-end Touchstone files as a simulator reads them.
#include "amisim/channel/analog_ends.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <filesystem>
#include <numbers>

#include "amisim/channel/channel_checks.hpp"
#include "amisim/host/ibis_file.hpp"
#include "amisim/run/analog_link.hpp"
#include "test_support.hpp"

namespace {

using amisim::IbisCorner;
using C = std::complex<double>;
using amisim_test::FakeKit;
using amisim_test::TempDir;

// Per leg: a 40 ohm driver (linear I-V), 0.7 pF die, 0.5 ohm + 1.5 nH + 0.3 pF package; the
// receiver 0.4 pF die, its pins 0.2 ohm 0.8 nH 0.25 pF of their own, 45 ohm to ground.
constexpr double kRs = 40, kTxC = 0.7e-12, kRpkg = 0.5, kLpkg = 1.5e-9, kCpkg = 0.3e-12;
constexpr double kRxC = 0.4e-12, kRxR = 0.2, kRxL = 0.8e-9, kRxCpin = 0.25e-12, kRt = 45;

const char* kIbs = R"([IBIS Ver] 5.1
[File Name] test.ibs
[Component] PAIR
[Manufacturer] Test
[Package]
| variable typ min max
R_pkg 0.5 0.4 0.6
L_pkg 1.5nH 1.2nH 1.8nH
C_pkg 0.3pF NA NA
[Pin]  signal_name  model_name  R_pin  L_pin  C_pin
1 TXP drv
2 TXN drv
3 RXP rcv 0.2 0.8nH 0.25pF
4 RXN rcv 0.2 0.8nH 0.25pF
5 VDD POWER
[Model] drv
Model_type Output
C_comp 0.7pF 0.6pF 0.8pF
[Pulldown]
-1.0 -25mA -20mA -30mA
 0.0   0mA   0mA   0mA
 1.0  25mA  20mA  30mA
[Pullup]
-1.0  25mA  20mA  30mA
 0.0   0mA   0mA   0mA
 1.0 -25mA -20mA -30mA
[Model] rcv
Model_type Input
C_comp 400fF 350fF 450fF
[Rgnd] 45 50 40
[End]
)";

struct M {
    C a, b, c, d;
};
M mul(const M& x, const M& y) {
    return {x.a * y.a + x.b * y.c, x.a * y.b + x.b * y.d, x.c * y.a + x.d * y.c,
            x.c * y.b + x.d * y.d};
}
M series(C z) { return {1.0, z, 0.0, 1.0}; }
M shunt(C y) { return {1.0, 0.0, y, 1.0}; }

// 2 V_load / V_source of the differential circuit: each series element doubled across the
// pair, each shunt capacitance halved, the termination doubled.
C oracle(double hz) {
    const C jw(0, 2 * std::numbers::pi * hz);
    M t = series(2 * kRs);
    t = mul(t, shunt(jw * kTxC / 2.0));
    t = mul(t, series(2.0 * (kRpkg + jw * kLpkg)));
    t = mul(t, shunt(jw * kCpkg / 2.0));
    t = mul(t, shunt(jw * kRxCpin / 2.0));
    t = mul(t, series(2.0 * (kRxR + jw * kRxL)));
    t = mul(t, shunt(jw * kRxC / 2.0));
    const double load = 2 * kRt;
    return 2.0 / (t.a + t.b / load);
}

TEST(AnalogEnds, LumpedEndsMatchTheHandCascadeAndReachTheChannel) {
    FakeKit k;
    const std::string ibs = k.dir.write("test.ibs", kIbs);
    const amisim::AnalogEnds ends =
        amisim::loadAnalogEnds(ibs, IbisCorner::Typ, amisim::TxResolution{}, k.dir.str());
    EXPECT_NEAR(ends.tx.sourceOhms, kRs, 1e-9);
    ASSERT_TRUE(ends.rxTermination);
    EXPECT_NEAR(*ends.rxTermination, kRt, 1e-12);
    for (double hz : {1e8, 1e9, 5e9, 2e10}) {
        // a zero-length matched line between the ends
        const C h = ends.transfer({0.0, 1.0, 1.0, 0.0}, 100.0, hz);
        const C want = oracle(hz);
        EXPECT_NEAR(std::abs(h - want), 0.0, 1e-9 * std::abs(want)) << hz;
    }

    // the same through amisim's channel: a lossless built-in line with these ends
    k.cfg.files.ibsFile = ibs;
    k.cfg.samplesPerBit = 32;
    amisim::PreparedChannel p = amisim::prepareChannel(k.cfg);
    EXPECT_TRUE(p.info.ends.analog);
    for (double hz : {1e9, 3e9, 5e9, 1e10}) {
        const double got = 20 * std::log10(std::abs(amisim::frequencyResponse(p.impulse, hz)));
        const double want = 20 * std::log10(std::abs(oracle(hz)));
        EXPECT_NEAR(got, want, 0.05) << hz;
    }
    const double nyq = k.cfg.bitRate / 2;
    EXPECT_NEAR(p.info.ends.costAtNyquistDb, -20 * std::log10(std::abs(oracle(nyq))), 0.05);

    // ideal ends leave the line alone
    k.cfg.idealEnds = true;
    p = amisim::prepareChannel(k.cfg);
    EXPECT_FALSE(p.info.ends.analog);
    EXPECT_NEAR(std::abs(amisim::frequencyResponse(p.impulse, 3e9)), 1.0, 1e-3);
}

TEST(AnalogEnds, ABrokenIbsFileStopsTheRunNamingTheWayOut) {
    FakeKit k;
    k.cfg.files.ibsFile = k.dir.write("bad.ibs", "[Component] X\n[Pin] a b\n1 TXP nomodel\n");
    try {
        amisim::prepareChannel(k.cfg);
        FAIL() << "a broken .ibs file was taken";
    } catch (const amisim::IbisError& e) {
        EXPECT_NE(std::string(e.what()).find("bad.ibs: pin 1"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("--ideal-ends"), std::string::npos) << e.what();
    }
    k.cfg.idealEnds = true;
    EXPECT_NO_THROW(amisim::prepareChannel(k.cfg));
}

TEST(AnalogEnds, CornersPickTheirColumnsAndTxRFromTheModelWins) {
    TempDir dir;
    const std::string ibs = dir.write("test.ibs", kIbs);
    const amisim::AnalogEnds mx =
        amisim::loadAnalogEnds(ibs, IbisCorner::Max, amisim::TxResolution{}, dir.str());
    EXPECT_NEAR(mx.tx.sourceOhms, 1.0 / 0.030, 1e-9);
    EXPECT_NEAR(mx.tx.lPkg, 1.8e-9, 1e-21);
    EXPECT_NEAR(mx.tx.cPkg, 0.3e-12, 1e-24);  // NA falls back to typ
    EXPECT_NEAR(mx.tx.cComp, 0.8e-12, 1e-24);
    EXPECT_NEAR(*mx.rxTermination, 40, 1e-12);
    EXPECT_NEAR(mx.rx.lPkg, 0.8e-9, 1e-21);  // the pins' own values win over [Package]

    amisim::TxResolution r;
    r.called = true;
    r.txR = 43;
    r.tstoneFile = "missing_front_end.s4p";
    const amisim::AnalogEnds e = amisim::loadAnalogEnds(ibs, IbisCorner::Typ, r, dir.str());
    EXPECT_EQ(e.tx.sourceOhms, 43);
    EXPECT_TRUE(e.txFrontEndFile.empty());
    ASSERT_EQ(e.warnings.size(), 1u);
    EXPECT_NE(e.warnings[0].find("missing_front_end.s4p"), std::string::npos);
}

TEST(AnalogEnds, AFrontEndFileReplacesTheLumpedTransmitter) {
    TempDir dir;
    const std::string ibs = dir.write("test.ibs", kIbs);
    // the file holds the same lumped transmitter leg as the .ibs, so the link must not change
    amisim::LumpedEnd leg{kRs, kTxC, kRpkg, kLpkg, kCpkg};
    std::vector<double> hz;
    std::vector<std::array<C, 16>> s;
    for (int k = 0; k <= 400; ++k) {
        hz.push_back(k * 50e6);
        s.push_back(amisim::fourPortOfLegs(amisim::transmitterLeg(leg, hz.back()), 50));
    }
    dir.write("fe.s4p", amisim::touchstoneText(hz, s, 50, "test front end"));
    amisim::TxResolution r;
    r.called = true;
    r.tstoneFile = "fe.s4p";
    const amisim::AnalogEnds e = amisim::loadAnalogEnds(ibs, IbisCorner::Typ, r, dir.str());
    EXPECT_FALSE(e.txFrontEndFile.empty());
    EXPECT_TRUE(e.warnings.empty()) << e.warnings[0];
    for (double f : {1e9, 5e9, 1.5e10}) {
        const C h = e.transfer({0.0, 1.0, 1.0, 0.0}, 100.0, f);
        EXPECT_NEAR(std::abs(h - oracle(f)), 0.0, 1e-6) << f;
    }
}

TEST(IbisFile, ReadsTheKitAndNumbersWithScaleSuffixes) {
    EXPECT_DOUBLE_EQ(amisim::parseIbisNumber("1.20nH", "x"), 1.2e-9);
    EXPECT_DOUBLE_EQ(amisim::parseIbisNumber("-16.3743mA", "x"), -16.3743e-3);
    EXPECT_DOUBLE_EQ(amisim::parseIbisNumber("2Mohm", "x"), 2e6);
    EXPECT_DOUBLE_EQ(amisim::parseIbisNumber("50", "x"), 50);
    EXPECT_THROW(amisim::parseIbisNumber("abc", "x"), amisim::IbisError);
    EXPECT_THROW(amisim::parseIbisNumber("1.2n3", "x"), amisim::IbisError);

    const amisim::IbisFile f = amisim::readIbis(std::string(KIT_DIR) + "/v10kx.ibs");
    const amisim::IbisModel* tx = amisim::pinModel(f, true);
    const amisim::IbisModel* rx = amisim::pinModel(f, false);
    ASSERT_TRUE(tx && rx);
    EXPECT_EQ(tx->name, "v10kx_tx");
    EXPECT_EQ(rx->name, "v10kx_rx");
    // slope of the pulldown table across 0 V: 0.4 V over 2 x 3.9634 mA
    EXPECT_NEAR(amisim::driverResistance(*tx, IbisCorner::Typ), 0.4 / (2 * 3.9634e-3), 1e-6);
    EXPECT_NEAR(*amisim::terminationResistance(*rx, IbisCorner::Typ), 50, 1e-12);
    const amisim::IbisPackage pkg = amisim::pinPackage(f, *tx, IbisCorner::Min);
    EXPECT_NEAR(pkg.l, 1.0e-9, 1e-21);
    EXPECT_NEAR(pkg.c, 0.35e-12, 1e-24);
}

TEST(IbisFile, BrokenFilesAreRefusedClearlyAndNeverCrash) {
    auto error = [](const std::string& text) {
        try {
            amisim::parseIbis(text, "bad.ibs");
        } catch (const amisim::IbisError& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_NE(error("hello\nworld\n").find("not an IBIS file"), std::string::npos);
    EXPECT_NE(error("[Component X\n").find("bad.ibs:1: a keyword without its closing"),
              std::string::npos);
    EXPECT_NE(error("[Component] X\n[Pin] signal_name model_name\n1 A nomodel\n")
                  .find("names the model 'nomodel'"),
              std::string::npos);
    EXPECT_NE(error("[Model] m\nModel_type Output\n[Pulldown]\n0 0mA\n0 1mA\n")
                  .find("bad.ibs:5: I-V voltages must increase"),
              std::string::npos);
    EXPECT_NE(error("[Model] m\nC_comp xyz\n").find("'xyz' is not a number"), std::string::npos);
    EXPECT_NE(error("[Package]\nR_pkg 1\n").find("before any [Component]"), std::string::npos);

    // every prefix of the kit's file either reads or is refused with an IbisError
    const std::string kit = amisim_test::readFile(std::string(KIT_DIR) + "/v10kx.ibs");
    ASSERT_FALSE(kit.empty());
    for (std::size_t n = 0; n < kit.size(); n += 37) {
        try {
            amisim::parseIbis(kit.substr(0, n), "cut.ibs");
        } catch (const amisim::IbisError&) {
        }
    }
}

TEST(KitFrontEnds, EveryCornerFileIsPassiveCausalAndTheLumpedDriver) {
    const amisim::IbisFile f = amisim::readIbis(std::string(KIT_DIR) + "/v10kx.ibs");
    const amisim::IbisModel* tx = amisim::pinModel(f, true);
    ASSERT_TRUE(tx);
    const std::pair<const char*, IbisCorner> corners[] = {
        {"tt", IbisCorner::Typ}, {"ff", IbisCorner::Max}, {"ss", IbisCorner::Min}};
    for (const auto& [code, corner] : corners) {
        const std::string path = std::string(KIT_DIR) + "/v10tx_afe_" + code + "_1.s4p";
        const amisim::FourPortData d = amisim::readS4p(path);
        double worst = 0;
        std::vector<C> sdd21;
        for (const auto& s : d.s) {
            worst = std::max(worst, amisim::largestSingularValue(s));
            sdd21.push_back(amisim::differentialS(s, amisim::PortOrder::Pairs12_34)[2]);
        }
        EXPECT_LE(worst, 1.0 + 1e-9) << path;
        EXPECT_LT(amisim::nonCausalEnergy(d.frequencies, sdd21), 0.01) << path;
        // DC: the source resistance and the package's against the 100 ohm reference
        const double rs = amisim::driverResistance(*tx, corner);
        const double rPkg = amisim::pinPackage(f, *tx, corner).r;
        EXPECT_NEAR(std::abs(sdd21.front()), 100.0 / (100.0 + rs + rPkg), 1e-9) << path;
    }
}

}  // namespace
