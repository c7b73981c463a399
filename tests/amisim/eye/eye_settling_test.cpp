// Whether the time-domain eye has settled: an eye still opening, the receiver's own lock
// report, and the real kit measured too early.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "test_support.hpp"

using namespace amisim;
using amisim_test::FakeKit;

namespace {

bool mentions(const std::vector<std::string>& lines, const std::string& what) {
    for (const std::string& l : lines)
        if (l.find(what) != std::string::npos) return true;
    return false;
}

}  // namespace

TEST(EyeSettling, AnEyeStillOpeningIsFlaggedAndTheSuggestedIgnoreSettlesIt) {
    FakeKit kit;
    kit.cfg.samplesPerBit = 8;
    kit.cfg.bits = 4000;
    kit.cfg.ignoreBits = 200;
    // the receiver's gain grows from a fifth to full over the first 4000 bits
    kit.cfg.rxOverrides = {{"gain_settle", "4000"}};
    LinkResult r = runLink(kit.cfg);
    ASSERT_TRUE(r.settling.has_value());
    EXPECT_FALSE(r.settling->settled);
    EXPECT_FALSE(r.settling->quartersAgree);
    EXPECT_LT(r.td->lastQuarters[0].eyeHeight, 0.85 * r.td->lastQuarters[1].eyeHeight);
    // the last quarter starts at bit 200 + 3 * 3800 / 4 = 3050: a quarter more, to whole
    // thousands, and twice as many bits
    EXPECT_EQ(r.settling->suggestedIgnoreBits, 4000u);
    EXPECT_EQ(r.settling->suggestedBits, 8000u);
    EXPECT_TRUE(mentions(r.warnings, "--ignore-bits 4000 --bits 8000")) << r.warnings.size();

    kit.cfg.ignoreBits = r.settling->suggestedIgnoreBits;
    kit.cfg.bits = r.settling->suggestedBits;
    r = runLink(kit.cfg);
    EXPECT_TRUE(r.settling->settled) << r.settling->warning;
    EXPECT_FALSE(mentions(r.warnings, "not settled"));
}

TEST(EyeSettling, TheReceiversLockReportDecidesLockAndLostClockTimesAreReported) {
    FakeKit kit;
    kit.cfg.samplesPerBit = 8;
    kit.cfg.bits = 4000;
    kit.cfg.ignoreBits = 200;
    // clock times one bit apart from the start: the period alone looks locked at once
    kit.cfg.rxOverrides = {{"clock", "1"}, {"lock_at", "2500"}, {"dropped", "3"}};
    LinkResult r = runLink(kit.cfg);
    ASSERT_TRUE(r.clock.has_value());
    EXPECT_TRUE(r.clock->lockFromReceiver);
    ASSERT_TRUE(r.clock->lockBit.has_value());
    EXPECT_EQ(*r.clock->lockBit, 2500u);
    EXPECT_FALSE(r.settling->settled);
    EXPECT_FALSE(r.settling->lockedBeforeMeasuring);
    EXPECT_EQ(r.settling->suggestedIgnoreBits, 4000u);  // 1.25 * 2500, to whole thousands
    EXPECT_TRUE(mentions(r.warnings, "could not deliver 3 clock times"));

    // a receiver that reports no lock at the end never settled, whatever is ignored
    kit.cfg.rxOverrides = {{"clock", "1"}, {"lock_at", "-1"}};
    r = runLink(kit.cfg);
    EXPECT_FALSE(r.clock->lockBit.has_value());
    EXPECT_FALSE(r.settling->settled);
    EXPECT_TRUE(mentions(r.warnings, "never settled"));
    EXPECT_TRUE(mentions(r.warnings, "Ignoring more bits will not help"));

    // locked before the first measured bit, nothing lost: settled, no warning
    kit.cfg.rxOverrides = {{"clock", "1"}, {"lock_at", "150"}, {"dropped", "0"}};
    r = runLink(kit.cfg);
    EXPECT_EQ(*r.clock->lockBit, 150u);
    EXPECT_TRUE(r.settling->settled) << r.settling->warning;
    EXPECT_TRUE(r.warnings.empty()) << r.warnings.front();
}

TEST(EyeSettling, TheKitMeasuredTooEarlyIsFlaggedAndStrictFails) {
    // the receiver learns its DFE level over its first 5000 bits and locks after some
    // thousands: 1000 ignored bits are too few
    amisim_test::TempDir dir;
    const std::string out = dir.file("early");
    const auto r = amisim_test::runAmisim(
        dir, std::string("--quiet --kit ") + KIT_DIR + " --out " + out +
                 " --mode td --no-margin-walk --samples-per-bit 16 --bits 12000 --ignore-bits 1000"
                 " --strict");
    // the report is written and the summary printed before --strict fails the run
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--strict: the time-domain eye has not settled"), std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("the time-domain eye has not settled"), std::string::npos) << r.out;
    const nlohmann::json j = nlohmann::json::parse(amisim_test::readFile(out + "/report.json"));
    const nlohmann::json& s = j["time_domain"]["settling"];
    EXPECT_FALSE(s["settled"].get<bool>());
    EXPECT_GT(s["suggested_ignore_bits"].get<int>(), 1000);
}
