// The simulator driving small stand-in models: the IBIS-AMI call sequence, the eye figures of
// a lossless link, what the models say, and the errors a user meets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>

#include "amisim/host/ami_library.hpp"
#include "amisim/run/link_sim.hpp"
#include "test_support.hpp"

using namespace amisim;
using amisim_test::FakeKit;

namespace {

std::string errorOf(const LinkConfig& cfg) {
    try {
        runLink(cfg);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

bool contains(const std::vector<std::string>& v, const std::string& what) {
    for (const std::string& s : v)
        if (s.find(what) != std::string::npos) return true;
    return false;
}

}  // namespace

TEST(Link, LosslessLinkThroughStandInModels) {
    FakeKit k;
    k.cfg.rxOverrides = {{"gain", "0.5"}};
    LinkResult r = runLink(k.cfg);
    EXPECT_EQ(r.tx.parametersIn,
              "(Fake_Tx (gain 1.0) (limit 0) (warn 0) (crash 0) (rj 1e-12) (dcd 0) (corner 0) "
              "(fail 0) (Database_Path \"" +
                  k.dir.str() + "\"))");
    EXPECT_NE(r.rx.message.find("(gain 0.5)"), std::string::npos);
    // pulse of +0.5 V through gains 1 and 0.5
    EXPECT_NEAR(r.pulse.mainCursor(), 0.25, 1e-6);
    EXPECT_NEAR(r.channel.lossAtNyquistDb, 0.0, 1e-6);
    // the stand-in receiver asks for 10 mV either side; its jitter does not reach the centre
    ASSERT_TRUE(r.stat.has_value());
    EXPECT_NEAR(r.stat->eyeHeight, 0.5 - 0.02, 2e-3);
    EXPECT_NEAR(r.jitter.rjRms, std::sqrt(2.0) * 1e-12, 1e-18);
    EXPECT_NEAR(r.jitter.dcdPp, 4e-12, 1e-18);  // Rx_DCD is half the peak to peak
    ASSERT_TRUE(r.td.has_value());
    EXPECT_FALSE(r.td->usedClockTimes);
    // the same sensitivity comes off the time-domain height, so that the modes compare
    EXPECT_NEAR(r.td->opening, 0.5, 1e-6);
    EXPECT_NEAR(r.td->eyeHeight, 0.48, 1e-6);
    EXPECT_EQ(r.tdIgnoreBits, 200u);  // the model's Ignore_Bits
    EXPECT_EQ(r.td->bitErrors, 0u);
    EXPECT_TRUE(r.tx.warnings.empty());
    EXPECT_TRUE(r.rx.warnings.empty());
    EXPECT_EQ(r.tx.paramsValid, true);
    // the channel, after the transmitter and after the receiver: 0 dB, 0 dB, -6 dB
    ASSERT_TRUE(r.frequency.has_value());
    EXPECT_NEAR(r.frequency->channelDb[10], 0.0, 1e-6);
    EXPECT_NEAR(r.frequency->txDb[10], 0.0, 1e-6);
    EXPECT_NEAR(r.frequency->rxDb[10], 20 * std::log10(0.5), 1e-6);
}

TEST(Link, ReceiverClockTimesAndStatOnlyMode) {
    FakeKit k;
    k.cfg.rxOverrides = {{"clock", "1"}};
    k.cfg.ignoreBits = 50;
    LinkResult r = runLink(k.cfg);
    ASSERT_TRUE(r.td.has_value());
    EXPECT_TRUE(r.td->usedClockTimes);
    EXPECT_NEAR(r.td->opening, 1.0, 1e-6);
    // every clock time after the ignored bits whose two unit intervals lie within the run
    EXPECT_NEAR(static_cast<double>(r.td->sampledBits), 3000 - 50, 3);
    k.cfg.runTd = false;
    r = runLink(k.cfg);
    EXPECT_FALSE(r.td.has_value());
    EXPECT_TRUE(r.stat.has_value());
}

TEST(Link, ModelWarningsConsoleLinesAndParamsValidReachTheResult) {
    FakeKit k;
    k.cfg.txOverrides = {{"warn", "1"}};
    k.cfg.rxOverrides = {{"warn", "1"}};
    const LinkResult r = runLink(k.cfg);
    EXPECT_EQ(r.tx.paramsValid, false);
    EXPECT_TRUE(contains(r.tx.warnings, "**Warning** fake transmitter-style warning"));
    EXPECT_TRUE(contains(r.tx.warnings, "Params_Valid False"));
    EXPECT_TRUE(
        contains(r.rx.warnings, "WARNING: fake receiver-style warning / second line of it."));
    // what the model printed is taken from standard output, not mixed into amisim's
    EXPECT_TRUE(contains(r.rx.warnings, "printed: fake console line"));
    EXPECT_NE(r.rx.console.find("fake console line"), std::string::npos);
}

TEST(Link, ReceiverClockRecoveryDfeTapsAndAdaptedGains) {
    FakeKit k;
    k.cfg.bits = 6000;
    k.cfg.rxOverrides = {
        {"clock_ppm", "300"}, {"clock_settle", "800"}, {"taps", "1"}, {"adapt", "1"}};
    const LinkResult r = runLink(k.cfg);
    ASSERT_TRUE(r.clock.has_value());
    EXPECT_NEAR(r.clock->ppm, 300, 0.5);
    ASSERT_TRUE(r.clock->lockBit.has_value());
    EXPECT_EQ(*r.clock->lockBit, 800u);  // 800 bits of 1 % settling, whole 32-bit windows
    ASSERT_EQ(r.dfeTaps.size(), (6000u + 255) / 256);
    EXPECT_EQ(r.dfeTaps.back().bit, 6000u);
    ASSERT_EQ(r.dfeTaps.back().taps.size(), 2u);
    // the stand-in's taps settle as 1 - exp(-t / 2000 bits)
    const double w1 = 0.05 * (1 - std::exp(-6000.0 / 2000));
    EXPECT_NEAR(r.dfeTaps.back().taps[0].weight, w1, 1e-6);
    EXPECT_EQ(r.dfeTaps.back().taps[0].code, static_cast<int>(std::lround(w1 * 1000)));
    EXPECT_LT(r.dfeTaps.front().taps[0].weight, r.dfeTaps.back().taps[0].weight);
    ASSERT_TRUE(r.adaptedGains.has_value());
    EXPECT_EQ(r.adaptedGains->ac, 7);
    EXPECT_EQ(r.adaptedGains->dc, 2);
    EXPECT_EQ(r.adaptedGains->vga, 3);
}

TEST(Link, WaveformAtTheReceiversAmplitudeLimitIsReported) {
    FakeKit k;
    k.cfg.rxOverrides = {{"limit", "0.2"}};
    const LinkResult r = runLink(k.cfg);
    ASSERT_TRUE(r.rxOutputRange.has_value());
    EXPECT_NEAR(r.rxOutputRange->high, 0.2, 1e-12);
    EXPECT_NEAR(r.rxOutputRange->low, -0.2, 1e-12);
    EXPECT_TRUE(r.rxOutputLimited);
    EXPECT_TRUE(contains(r.warnings, "reaches its amplitude limit"));
    // the impulse is not limited: the modes differ as the warning says
    EXPECT_NEAR(r.pulse.mainCursor(), 0.5, 1e-6);
    EXPECT_NEAR(r.td->signalLevel, 0.2, 1e-6);
    // a receiver that sets its limit from the impulse it is given: the probe gets the
    // transmitter's output, as the real receiver does, so it finds the real receiver's range
    FakeKit adapts;
    adapts.cfg.txOverrides = {{"gain", "0.5"}};
    adapts.cfg.rxOverrides = {{"limit", "0.4"}, {"limit_adapts", "1"}};
    const LinkResult a = runLink(adapts.cfg);
    ASSERT_TRUE(a.rxOutputRange.has_value());
    EXPECT_NEAR(a.rxOutputRange->high, 0.2, 1e-3);
    EXPECT_NEAR(a.td->signalLevel, 0.2, 1e-3);
    FakeKit free;
    const LinkResult f = runLink(free.cfg);
    EXPECT_FALSE(f.rxOutputLimited);
    EXPECT_FALSE(contains(f.warnings, "amplitude limit"));
}

TEST(Link, TimeDomainJitterMakesBothModesNarrowTheEyeAlike) {
    // duty-cycle distortion only: 0.1 UI at the transmitter's edges, 0.05 UI at the
    // receiver's sampling instants; both modes lose 2 * 0.15 UI of width
    FakeKit k;
    const double ui = 1 / k.cfg.bitRate;
    auto seconds = [](double v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.6e", v);
        return std::string(buf);
    };
    k.cfg.txOverrides = {{"rj", "0"}, {"dcd", seconds(0.1 * ui)}};
    k.cfg.rxOverrides = {{"rj", "0"}, {"dcd", seconds(0.05 * ui)}};
    k.cfg.bits = 4000;
    LinkResult r = runLink(k.cfg);
    EXPECT_NEAR(r.stat->eyeWidth, 0.7, 2.0 / 64);
    EXPECT_NEAR(r.td->eyeWidth, 0.7, 2.0 / 32);
    k.cfg.tdJitter = false;
    r = runLink(k.cfg);
    EXPECT_NEAR(r.td->eyeWidth, 1.0, 2.0 / 32);
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
    c.ignoreBits = 1501;
    EXPECT_NE(errorOf(c).find("at most half the bits"), std::string::npos);
    // a receiver library given as the transmitter answers with the receiver's root name
    c = k.cfg;
    c.files.txLibrary = FAKE_RX_LIB;
    EXPECT_NE(errorOf(c).find("answers as Fake_Rx"), std::string::npos);
    // sizes amisim will not take on
    c = k.cfg;
    c.bitRate = 1e15;
    EXPECT_NE(errorOf(c).find("outside"), std::string::npos);
    c = k.cfg;
    c.bits = 1;
    EXPECT_NE(errorOf(c).find("bits simulated must lie within 100"), std::string::npos);
    c = k.cfg;
    c.amplitude = 1e9;
    EXPECT_NE(errorOf(c).find("amplitude"), std::string::npos);
    c = k.cfg;
    c.blockBits = 1 << 20;
    c.samplesPerBit = 1024;
    EXPECT_NE(errorOf(c).find("samples (block bits x samples per bit)"), std::string::npos);
}
