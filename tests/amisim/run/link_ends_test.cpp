// The analog ends of the real kit's link as settings move them: one process corner for the
// models and the ends, sweep points that run with the front end their own settings name, and
// the eye height the ends cost, taken at the receiver's adapted settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <stdexcept>

#include "amisim/run/corner_choice.hpp"
#include "amisim/run/ends_eye_cost.hpp"
#include "amisim/run/sweep.hpp"
#include "test_support.hpp"

namespace {

using amisim::IbisCorner;
using amisim::ParamOverride;

amisim::LinkConfig kitLink() {
    for (const char* f : {"v10kx_ami_tx_x64.so", "v10kx_ami_rx_x64.so", "v10kx.ibs"})
        if (!std::filesystem::exists(std::filesystem::path(KIT_DIR) / f))
            throw std::runtime_error(std::string("the kit lacks ") + f);
    amisim::LinkConfig c;
    c.kitDir = KIT_DIR;
    c.files = amisim::locateKit(KIT_DIR, {});
    c.runTd = false;
    c.quiet = true;
    c.frequencyResponse = false;
    c.statFiguresOnly = true;
    return c;
}

std::string settingOf(const std::vector<ParamOverride>& overrides) {
    std::string s;
    for (const ParamOverride& o : overrides)
        if (o.name == "corner") s += o.value;
    return s;
}

std::string fileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

std::string refusal(amisim::LinkConfig c, const std::vector<amisim::SweepAxis>& axes = {}) {
    try {
        amisim::settleCorner(c, axes);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(LinkEnds, TheModelsAndTheEndsShareOneCorner) {
    // the transmitter's corner alone: the ends follow it, front end and .ibs column alike
    amisim::LinkConfig tx = kitLink();
    tx.txOverrides.push_back({"corner", "1"});
    amisim::settleCorner(tx, {});
    EXPECT_EQ(settingOf(tx.txOverrides), "1");
    EXPECT_EQ(settingOf(tx.rxOverrides), "");
    const amisim::PreparedChannel fast = amisim::prepareChannel(tx);
    EXPECT_EQ(fast.info.ends.corner, "max");
    EXPECT_EQ(fileName(fast.info.ends.txFrontEndFile), "v10tx_afe_ff_1.s4p");

    // --corner alone: both models get the corner, and the ends use it
    amisim::LinkConfig given = kitLink();
    given.corner = IbisCorner::Min;
    amisim::settleCorner(given, {});
    EXPECT_EQ(settingOf(given.txOverrides), "2");
    EXPECT_EQ(settingOf(given.rxOverrides), "2");
    const amisim::PreparedChannel slow = amisim::prepareChannel(given);
    EXPECT_EQ(slow.info.ends.corner, "min");
    EXPECT_EQ(fileName(slow.info.ends.txFrontEndFile), "v10tx_afe_ss_1.s4p");
    EXPECT_NE(slow.impulse.impulse, fast.impulse.impulse);

    // both given: alike is accepted once, different is refused naming both
    amisim::LinkConfig alike = kitLink();
    alike.corner = IbisCorner::Max;
    alike.txOverrides.push_back({"corner", "1"});
    amisim::settleCorner(alike, {});
    EXPECT_EQ(settingOf(alike.txOverrides), "1");
    amisim::LinkConfig differ = kitLink();
    differ.corner = IbisCorner::Max;
    differ.txOverrides.push_back({"corner", "2"});
    const std::string why = refusal(differ);
    EXPECT_NE(why.find("--corner max and --tx corner=2 differ"), std::string::npos) << why;
    amisim::LinkConfig swept = kitLink();
    swept.corner = IbisCorner::Typ;
    EXPECT_NE(refusal(swept, {amisim::SweepAxis{"tx", "corner", {"0", "1"}, ""}})
                  .find("--sweep tx.corner: --corner typ"),
              std::string::npos);

    // the user sees the refusal before any work
    amisim_test::TempDir dir;
    const auto r =
        amisim_test::runAmisim(dir, std::string("--quiet --kit ") + KIT_DIR + " --out " +
                                        dir.file("o") + " --mode stat --corner max --tx corner=2");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("--corner max and --tx corner=2 differ"), std::string::npos) << r.err;
}

TEST(LinkEnds, SweepPointsOverTheTransmitterCornerRunWithTheirOwnFrontEnds) {
    amisim::LinkConfig base = kitLink();
    base.rxOverrides.push_back({"ctle_mode", "0"});  // no adaptation: a quick point
    const std::vector<amisim::SweepAxis> axes{amisim::SweepAxis{"tx", "corner", {"0", "1"}, ""}};
    const amisim::PreparedChannel shared = amisim::prepareSweepChannel(base);
    const amisim::SweepPoint typ = amisim::computeSweepPoint(base, axes, {"0"}, shared);
    const amisim::SweepPoint fast = amisim::computeSweepPoint(base, axes, {"1"}, shared);
    ASSERT_TRUE(typ.ok) << typ.error;
    ASSERT_TRUE(fast.ok) << fast.error;
    EXPECT_EQ(fileName(typ.txFrontEndFile), "v10tx_afe_tt_1.s4p");
    EXPECT_EQ(fileName(fast.txFrontEndFile), "v10tx_afe_ff_1.s4p");
    EXPECT_EQ(typ.endsCorner, "typ");
    EXPECT_EQ(fast.endsCorner, "max");

    // each point's eye is that of its own link built from scratch, whose channel differs
    const amisim::LinkConfig fastLink = amisim::configForPoint(base, axes, {"1"});
    const amisim::PreparedChannel fastChannel = amisim::prepareChannel(fastLink);
    EXPECT_NE(fastChannel.impulse.impulse, shared.impulse.impulse);
    const amisim::LinkResult alone = amisim::runLink(fastLink, fastChannel);
    EXPECT_EQ(fast.eyeHeight, alone.stat->eyeHeight);
    EXPECT_EQ(typ.eyeHeight,
              amisim::runLink(amisim::configForPoint(base, axes, {"0"}), shared).stat->eyeHeight);
}

TEST(LinkEnds, TheEyeCostIsTakenAtTheGainsTheReceiverChose) {
    const amisim::LinkConfig cfg = kitLink();
    amisim::LinkResult res = amisim::runLink(cfg);
    ASSERT_TRUE(res.adaptedGains && res.stat && res.channel.ends.analog);
    amisim::measureEndsEyeCost(cfg, res);
    ASSERT_TRUE(res.channel.ends.eyeHeightCostV);

    // the same two eyes as a user gets them with the chosen gains set by hand (the kit's
    // receiver runs its one-stage CTLE by default) and the adaptation off
    amisim::LinkConfig held = cfg;
    held.rxOverrides = {{"ctle_mode", "0"},
                        {"eqz_s1_ac_gain", std::to_string(res.adaptedGains->ac)},
                        {"vga_gain", std::to_string(res.adaptedGains->vga)}};
    const amisim::LinkResult withEnds = amisim::runLink(held);
    held.idealEnds = true;
    const amisim::LinkResult ideal = amisim::runLink(held);
    EXPECT_FALSE(withEnds.adaptedGains);
    EXPECT_NEAR(*res.channel.ends.eyeHeightCostV, ideal.stat->eyeHeight - withEnds.stat->eyeHeight,
                1e-12);
    EXPECT_GT(*res.channel.ends.eyeHeightCostV, 0.0);  // the ends' loss closes the eye a little
    EXPECT_NE(res.channel.ends.eyeCostSettings.find("at the adapted settings (AC gain " +
                                                    std::to_string(res.adaptedGains->ac)),
              std::string::npos)
        << res.channel.ends.eyeCostSettings;
}
