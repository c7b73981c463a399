// Parameter sweeps: the grammar, the grid order, and runs in worker processes.
#include "amisim/sweep.hpp"

#include <gtest/gtest.h>

#include "test_support.hpp"

using namespace amisim;

namespace {
std::string errorOf(const std::string& text, const AmiModelFile& tx, const AmiModelFile& rx) {
    try {
        parseSweep(text, tx, rx);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "";
}
}  // namespace

TEST(Sweep, ParsesRangesListsAndModelPrefixes) {
    amisim_test::FakeKit k;
    const AmiModelFile tx = loadModelFile(k.cfg.files.txAmi), rx = loadModelFile(k.cfg.files.rxAmi);
    SweepAxis a = parseSweep("rx.gain=0.5:1.0:0.25", tx, rx);
    EXPECT_EQ(a.model, "rx");
    EXPECT_EQ(a.parameter, "gain");
    EXPECT_EQ(a.values, (std::vector<std::string>{"0.5", "0.75", "1"}));
    a = parseSweep("clock_settle=2:5", tx, rx);  // only the receiver has it; step 1
    EXPECT_EQ(a.model, "rx");
    EXPECT_EQ(a.values, (std::vector<std::string>{"2", "3", "4", "5"}));
    a = parseSweep("tx.corner=0,2", tx, rx);
    EXPECT_EQ(a.name(), "tx.corner");
    EXPECT_EQ(a.values, (std::vector<std::string>{"0", "2"}));
    // a range that does not end on a step stops below B
    EXPECT_EQ(parseSweep("rx.gain=1:2:0.4", tx, rx).values,
              (std::vector<std::string>{"1", "1.4", "1.8"}));

    EXPECT_NE(errorOf("corner=0:2", tx, rx).find("both models have a parameter 'corner'"),
              std::string::npos);
    EXPECT_NE(errorOf("rx.nosuch=0:2", tx, rx).find("no input parameter 'nosuch'"),
              std::string::npos);
    EXPECT_NE(errorOf("clock_settle=0:2:0.5", tx, rx).find("whole numbers"), std::string::npos);
    EXPECT_NE(errorOf("rx.gain=2:1", tx, rx).find("B must not be below A"), std::string::npos);
    EXPECT_NE(errorOf("rx.gain=1:2:0", tx, rx).find("STEP must be positive"), std::string::npos);
    EXPECT_NE(errorOf("rx.gain=a:2", tx, rx).find("must be numbers"), std::string::npos);
    EXPECT_NE(errorOf("rx.gain", tx, rx).find("NAME=A:B[:STEP]"), std::string::npos);
    EXPECT_NE(errorOf("clock_settle=0:5000", tx, rx).find("more than 1000 values"),
              std::string::npos);
}

TEST(Sweep, GridOrderHasTheFirstAxisChangingSlowest) {
    const std::vector<SweepAxis> axes{{"tx", "a", {"1", "2"}}, {"rx", "b", {"x", "y", "z"}}};
    const auto grid = sweepGrid(axes);
    const std::vector<std::vector<std::string>> expected{{"1", "x"}, {"1", "y"}, {"1", "z"},
                                                         {"2", "x"}, {"2", "y"}, {"2", "z"}};
    EXPECT_EQ(grid, expected);
    // a point's values override the base settings, after the base's own overrides
    LinkConfig base;
    base.txOverrides = {{"a", "0"}};
    const LinkConfig c = configForPoint(base, axes, grid[4]);
    ASSERT_EQ(c.txOverrides.size(), 2u);
    EXPECT_EQ(c.txOverrides[1].value, "2");
    EXPECT_EQ(c.rxOverrides.front().value, "y");
    EXPECT_FALSE(c.runTd);
}

TEST(Sweep, PointsRunInWorkersAndACrashCostsOnlyItsPoint) {
    amisim_test::FakeKit k;
    const AmiModelFile tx = loadModelFile(k.cfg.files.txAmi), rx = loadModelFile(k.cfg.files.rxAmi);
    // the lossless link's eye is 2 * 0.5 V * tx gain * rx gain, less twice the stand-in
    // receiver's 10 mV sensitivity
    const std::vector<SweepAxis> axes{parseSweep("tx.gain=0.5:1:0.5", tx, rx),
                                      parseSweep("rx.gain=0.25,0.5,1", tx, rx)};
    SweepResult one = runSweep(k.cfg, axes, 1);
    SweepResult two = runSweep(k.cfg, axes, 2);
    ASSERT_EQ(one.points.size(), 6u);
    for (std::size_t i = 0; i < one.points.size(); ++i) {
        ASSERT_TRUE(one.points[i].ok) << one.points[i].error;
        const double g = std::stod(one.points[i].values[0]) * std::stod(one.points[i].values[1]);
        EXPECT_NEAR(one.points[i].eyeHeight, 2 * 0.5 * g - 0.02, 3e-3) << i;
        EXPECT_EQ(two.points[i].values, one.points[i].values);
        EXPECT_DOUBLE_EQ(two.points[i].eyeHeight, one.points[i].eyeHeight);
    }
    ASSERT_TRUE(one.best.has_value());
    EXPECT_EQ(*one.best, 5u);  // gains 1 and 1

    // the stand-in transmitter aborts the process on (crash 1): only that point fails
    const std::vector<SweepAxis> crashing{parseSweep("tx.crash=0:1", tx, rx)};
    SweepResult c = runSweep(k.cfg, crashing, 2);
    ASSERT_EQ(c.points.size(), 2u);
    EXPECT_TRUE(c.points[0].ok);
    EXPECT_FALSE(c.points[1].ok);
    EXPECT_NE(c.points[1].error.find("signal"), std::string::npos) << c.points[1].error;
    EXPECT_EQ(*c.best, 0u);
}
