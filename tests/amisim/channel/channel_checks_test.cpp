// Port numbering found from the data, and the checks of a measured channel: bandwidth,
// passivity, causality.
#include "amisim/channel/channel_checks.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "amisim/run/link_sim.hpp"
#include "amisim/channel/port_detection.hpp"
#include "channel/backplane_s4p.hpp"
#include "test_support.hpp"

using namespace amisim;
using amisim_test::BackplaneOptions;

namespace {
constexpr double kBitRate = 10.3125e9;

FourPortData parsed(const BackplaneOptions& o) {
    return parseS4p(amisim_test::backplaneS4p(o), "backplane.s4p");
}

bool mentions(const std::vector<std::string>& v, const std::string& what) {
    for (const std::string& s : v)
        if (s.find(what) != std::string::npos) return true;
    return false;
}
}  // namespace

TEST(PortDetection, FindsTheThroughPathsInBothNumberings) {
    for (PortOrder order : {PortOrder::Pairs12_34, PortOrder::Pairs13_24}) {
        BackplaneOptions o;
        o.order = order;
        o.stopHz = 1e9;
        const FourPortData d = parsed(o);
        const PortDetection det = detectPortOrder(d);
        ASSERT_TRUE(det.detected.has_value()) << det.reason;
        EXPECT_EQ(*det.detected, order);
        // read with the numbering found, SDD21 is the through path less the far-end crosstalk
        const auto sdd21 = differentialInsertionLoss(d, *det.detected);
        const double f = d.frequencies[20];
        const auto thru = amisim_test::backplaneThru(o, {f}).front();
        const auto expect = thru - amisim_test::backplaneFext(o, f, thru);
        EXPECT_NEAR(std::abs(sdd21[20] - expect), 0.0, 1e-6);
    }
}

TEST(PortDetection, SaysWhenTheDataDoNotTell) {
    // no path passes anything: an open
    BackplaneOptions o;
    o.stopHz = 1e9;
    o.scale = 0.05;
    PortDetection det = detectPortOrder(parsed(o));
    EXPECT_FALSE(det.detected.has_value());
    EXPECT_NE(det.reason.find("no port pair passes"), std::string::npos);
    // both pairings pass about as much
    FourPortData d;
    d.frequencies = {10e6};
    d.s.emplace_back();
    for (int i : {2 * 4 + 0, 0 * 4 + 2, 3 * 4 + 1, 1 * 4 + 3})
        d.s[0][static_cast<std::size_t>(i)] = 0.9;
    for (int i : {1 * 4 + 0, 0 * 4 + 1, 3 * 4 + 2, 2 * 4 + 3})
        d.s[0][static_cast<std::size_t>(i)] = 0.8;
    det = detectPortOrder(d);
    EXPECT_FALSE(det.detected.has_value());
    EXPECT_NE(det.reason.find("both port pairings"), std::string::npos);
}

TEST(ChannelChecks, LargestSingularValueAgainstHandCases) {
    std::array<std::complex<double>, 16> s{};
    s[0] = 0.3;
    s[5] = {0.0, -0.8};
    s[10] = 0.5;
    s[15] = 0.1;
    EXPECT_NEAR(largestSingularValue(s), 0.8, 1e-12);
    // a lossless swap of two ports with a phase: unitary, every singular value 1
    s = {};
    s[1] = s[4] = std::polar(1.0, 0.7);
    s[11] = s[14] = std::polar(1.0, -2.0);
    EXPECT_NEAR(largestSingularValue(s), 1.0, 1e-12);
    // rank one: all entries 0.25 -> singular value 4 * 0.25 = 1
    s.fill(0.25);
    EXPECT_NEAR(largestSingularValue(s), 1.0, 1e-12);
}

TEST(ChannelChecks, AGoodFilePassesAndEachFaultIsNamed) {
    BackplaneOptions good;
    FourPortData d = parsed(good);
    ChannelCheck c = checkMeasuredChannel(d, differentialInsertionLoss(d, good.order), kBitRate);
    EXPECT_TRUE(c.warnings.empty()) << c.warnings.front();
    EXPECT_LT(c.maxGain, 1.0);
    EXPECT_LT(c.nonCausalEnergy, 1e-3);
    const double goodGain = c.maxGain;

    // every |S| ten times too large: the network would gain energy
    BackplaneOptions scaled = good;
    scaled.scale = 10;
    d = parsed(scaled);
    c = checkMeasuredChannel(d, differentialInsertionLoss(d, good.order), kBitRate);
    EXPECT_NEAR(c.maxGain, 10 * goodGain, 1e-8);
    EXPECT_TRUE(mentions(c.warnings, "not passive"));

    // data that stop at 3 GHz cannot describe a 10.3 Gb/s link (Nyquist 5.16 GHz)
    BackplaneOptions narrow = good;
    narrow.stopHz = 3e9;
    d = parsed(narrow);
    c = checkMeasuredChannel(d, differentialInsertionLoss(d, good.order), kBitRate);
    EXPECT_TRUE(mentions(c.warnings, "below the Nyquist frequency"));
    // ... while 8 GHz covers Nyquist but not the bit rate
    narrow.stopHz = 8e9;
    d = parsed(narrow);
    c = checkMeasuredChannel(d, differentialInsertionLoss(d, good.order), kBitRate);
    EXPECT_TRUE(mentions(c.warnings, "below the bit rate"));
    EXPECT_FALSE(mentions(c.warnings, "Nyquist frequency"));

    // phases of the wrong sign: the response arrives before the stimulus
    BackplaneOptions backwards = good;
    backwards.conjugate = true;
    d = parsed(backwards);
    c = checkMeasuredChannel(d, differentialInsertionLoss(d, good.order), kBitRate);
    EXPECT_GT(c.nonCausalEnergy, 0.9);
    EXPECT_TRUE(mentions(c.warnings, "before time zero"));

    // read with the wrong numbering, the "through" path is near-end coupling: no low-frequency
    // signal at all
    d = parsed(good);
    c = checkMeasuredChannel(d, differentialInsertionLoss(d, PortOrder::Pairs13_24), kBitRate);
    EXPECT_TRUE(mentions(c.warnings, "check the port numbering"));
}

TEST(ChannelChecks, PreparedChannelUsesTheDetectedNumberingAndSaysSo) {
    amisim_test::TempDir dir;
    BackplaneOptions o;
    o.order = PortOrder::Pairs13_24;
    LinkConfig cfg;
    cfg.s4pFile = dir.write("bp.s4p", amisim_test::backplaneS4p(o));
    PreparedChannel p = prepareChannel(cfg);
    ASSERT_TRUE(p.info.ports.has_value());
    EXPECT_EQ(*p.info.ports, PortOrder::Pairs13_24);
    EXPECT_TRUE(p.info.portsDetected);
    EXPECT_NE(p.info.description.find("1-3/2-4, found from the data"), std::string::npos);
    EXPECT_TRUE(p.warnings.empty());
    // 20 dB of line loss at Nyquist, and the crosstalk takes 2 % more off SDD21
    EXPECT_NEAR(p.info.lossAtNyquistDb, 20 - 20 * std::log10(1 - 0.02), 0.3);
    // the numbering given overrides what the data say, with a warning
    cfg.ports = PortOrder::Pairs12_34;
    p = prepareChannel(cfg);
    EXPECT_EQ(*p.info.ports, PortOrder::Pairs12_34);
    EXPECT_FALSE(p.info.portsDetected);
    EXPECT_TRUE(mentions(p.warnings, "port numbering 1-3/2-4, but 1-2/3-4 was asked for"));
}
