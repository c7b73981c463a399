// The simulator driving small stand-in models: the IBIS-AMI call sequence, the eye figures of
// a lossless link, and the errors a user meets.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>

#include "amisim/ami_library.hpp"
#include "amisim/link_sim.hpp"
#include "test_support.hpp"

using namespace amisim;

namespace {

const char* kTxAmi = R"((Fake_Tx
  (Reserved_Parameters (Init_Returns_Impulse (Usage Info) (Type Boolean) (Value True)))
  (Model_Specific
    (gain (Usage In) (Type Float) (Default 1.0))
    (fail (Usage In) (Type Integer) (List 0 1) (Default 0)))))";

const char* kRxAmi = R"((Fake_Rx
  (Reserved_Parameters (Ignore_Bits (Usage Info) (Type Integer) (Value 200)))
  (Model_Specific
    (gain (Usage In) (Type Float) (Default 1.0))
    (clock (Usage In) (Type Integer) (List 0 1) (Default 0)))))";

struct FakeKit {
    amisim_test::TempDir dir;
    LinkConfig cfg;
    FakeKit() {
        cfg.kitDir = dir.str();
        cfg.files.txLibrary = FAKE_TX_LIB;
        cfg.files.rxLibrary = FAKE_RX_LIB;
        cfg.files.txAmi = dir.write("tx.ami", kTxAmi);
        cfg.files.rxAmi = dir.write("rx.ami", kRxAmi);
        cfg.lossDb = 0;
        cfg.bits = 3000;
        cfg.prbsOrder = 7;
        cfg.blockBits = 256;
        cfg.quiet = true;
    }
};

std::string errorOf(const LinkConfig& cfg) {
    try {
        runLink(cfg);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(Link, LosslessLinkThroughStandInModels) {
    FakeKit k;
    k.cfg.rxOverrides = {{"gain", "0.5"}};
    LinkResult r = runLink(k.cfg);
    EXPECT_EQ(r.tx.parametersIn,
              "(Fake_Tx (gain 1.0) (fail 0) (Database_Path \"" + k.dir.str() + "\"))");
    EXPECT_NE(r.rx.message.find("(gain 0.5)"), std::string::npos);
    // pulse of +0.5 V through gains 1 and 0.5
    EXPECT_NEAR(r.pulse.mainCursor(), 0.25, 1e-6);
    EXPECT_NEAR(r.channelLossAtNyquistDb, 0.0, 1e-6);
    // the stand-in receiver asks for 10 mV either side; its jitter does not reach the centre
    ASSERT_TRUE(r.stat.has_value());
    EXPECT_NEAR(r.stat->eyeHeight, 0.5 - 0.02, 2e-3);
    EXPECT_NEAR(r.jitter.rjRms, std::sqrt(2.0) * 1e-12, 1e-18);
    EXPECT_NEAR(r.jitter.dcdPp, 4e-12, 1e-18);  // Rx_DCD is half the peak to peak
    ASSERT_TRUE(r.td.has_value());
    EXPECT_FALSE(r.td->usedClockTimes);
    EXPECT_NEAR(r.td->eyeHeight, 0.5, 1e-6);
    EXPECT_EQ(r.tdIgnoreBits, 200u);  // the model's Ignore_Bits
    EXPECT_EQ(r.td->bitErrors, 0u);
}

TEST(Link, ReceiverClockTimesAndStatOnlyMode) {
    FakeKit k;
    k.cfg.rxOverrides = {{"clock", "1"}};
    k.cfg.ignoreBits = 50;
    LinkResult r = runLink(k.cfg);
    ASSERT_TRUE(r.td.has_value());
    EXPECT_TRUE(r.td->usedClockTimes);
    EXPECT_NEAR(r.td->eyeHeight, 1.0, 1e-6);
    EXPECT_EQ(r.td->sampledBits, 3000u - 50u - 1u);  // the last edge has no full bit after it
    k.cfg.runTd = false;
    r = runLink(k.cfg);
    EXPECT_FALSE(r.td.has_value());
    EXPECT_TRUE(r.stat.has_value());
}

TEST(Link, ClearErrorsForBadModelsAndInputs) {
    FakeKit k;
    LinkConfig c = k.cfg;
    c.txOverrides = {{"fail", "1"}};
    EXPECT_NE(errorOf(c).find("fake model refuses these parameters"), std::string::npos);
    c = k.cfg;
    c.rxOverrides = {{"gian", "1"}};
    EXPECT_NE(errorOf(c).find("unknown parameter 'gian'"), std::string::npos);
    c = k.cfg;
    c.files.rxLibrary = NO_GETWAVE_LIB;
    EXPECT_NE(errorOf(c).find("does not export AMI_"), std::string::npos);
    c = k.cfg;
    c.files.txLibrary = k.dir.file("missing.so");
    EXPECT_NE(errorOf(c).find("cannot load the model library"), std::string::npos);
    c = k.cfg;
    c.files.rxAmi = k.dir.write("broken.ami", "(Fake_Rx (gain (Usage In)");
    EXPECT_NE(errorOf(c).find("broken.ami:1"), std::string::npos);
    c = k.cfg;
    c.s4pFile = k.dir.write("short.s4p", "# GHz S MA R 50\n1 0.5 0\n");
    EXPECT_NE(errorOf(c).find("33 per frequency"), std::string::npos);
    c = k.cfg;
    c.rxOverrides = {{"gain", "0"}};
    EXPECT_NE(errorOf(c).find("no positive main cursor"), std::string::npos);
    c = k.cfg;
    c.files.txAmi = k.dir.write("nowave.ami",
                                "(Fake_Tx (Reserved_Parameters (GetWave_Exists "
                                "(Usage Info) (Type Boolean) (Value False))))");
    EXPECT_NE(errorOf(c).find("--mode stat"), std::string::npos);
    c = k.cfg;
    c.ignoreBits = 3000;
    EXPECT_NE(errorOf(c).find("must be fewer than the bits"), std::string::npos);
}

TEST(Cli, WritesTheReportAndFailsOnBadInput) {
    FakeKit k;
    const std::string out = k.dir.file("out");
    const std::string base = std::string(AMISIM_EXE) + " --quiet --kit " + k.dir.str() +
                             " --tx-lib " + FAKE_TX_LIB + " --rx-lib " + FAKE_RX_LIB +
                             " --tx-ami " + k.cfg.files.txAmi + " --rx-ami " + k.cfg.files.rxAmi +
                             " --bits 2000 --prbs 7 --loss-db 10 --out " + out;
    ASSERT_EQ(std::system((base + " > " + k.dir.file("log") + " 2>&1").c_str()), 0);
    std::ifstream in(out + "/report.json");
    nlohmann::json j = nlohmann::json::parse(in);
    EXPECT_GT(j["statistical"]["eye_height"].get<double>(), 0.1);
    EXPECT_GT(j["time_domain"]["eye_height"].get<double>(), 0.1);
    EXPECT_GT(j["time_domain"]["eye_width"].get<double>(), 0.3);
    EXPECT_NEAR(j["channel"]["loss_at_nyquist_db"].get<double>(), 10.0, 0.1);
    for (const char* png : {"/eye_statistical.png", "/eye_time_domain.png", "/pulse_response.png"})
        EXPECT_TRUE(std::ifstream(out + png).good()) << png;

    const std::string log = " > " + k.dir.file("err") + " 2>&1";
    EXPECT_NE(std::system((base + " --rx nosuch=1" + log).c_str()), 0);
    EXPECT_NE(std::system((base + " --rx-lib " + k.dir.file("none.so") + log).c_str()), 0);
    EXPECT_NE(std::system((base + " --tx fail=1" + log).c_str()), 0);
    std::ifstream err(k.dir.file("err"));
    std::string text((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("fake model refuses"), std::string::npos) << text;
}
