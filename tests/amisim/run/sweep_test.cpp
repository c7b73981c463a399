// Parameter sweeps: the grammar, the grid order, and runs in worker processes.
#include "amisim/run/sweep.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "amisim/run/sweep_checks.hpp"
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
    const std::vector<SweepAxis> axes{{"tx", "a", {"1", "2"}, ""},
                                      {"rx", "b", {"x", "y", "z"}, ""}};
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

namespace {
SweepPoint ranPoint(double h, double w) {
    SweepPoint p;
    p.ran = p.ok = true;
    p.eyeHeight = h;
    p.eyeWidth = w;
    return p;
}
SweepResult oneAxis(std::vector<SweepPoint> points) {
    SweepResult sw;
    sw.axes = {{"rx", "g", {}, ""}};
    for (std::size_t i = 0; i < points.size(); ++i) {
        sw.axes[0].values.push_back(std::to_string(i));
        points[i].values = {std::to_string(i)};
    }
    sw.points = std::move(points);
    return sw;
}
}  // namespace

TEST(Sweep, TheBestPointHasTheLargestEyeAreaAmongCleanPointsAndTiesGoToTheMiddle) {
    // a tall narrow eye against a lower, wider one: 327.9 mV x 0.281 UI = 92.1 mV UI,
    // 277.2 mV x 0.422 UI = 117.0 mV UI
    SweepResult sw = oneAxis({ranPoint(0.3279, 0.281), ranPoint(0.2772, 0.422)});
    rankSweep(sw);
    EXPECT_EQ(sw.best, 1u);
    sw.objective = SweepObjective::Height;
    rankSweep(sw);
    EXPECT_EQ(sw.best, 0u);
    sw.objective = SweepObjective::Width;
    rankSweep(sw);
    EXPECT_EQ(sw.best, 1u);

    // the largest eyes failed, warned or had invalid settings: never chosen, always listed
    std::vector<SweepPoint> pts{ranPoint(0.1, 0.3), ranPoint(0.9, 0.9), ranPoint(0.8, 0.8),
                                ranPoint(0.7, 0.7), ranPoint(0.2, 0.3), SweepPoint{}};
    pts[1].warnings = {"Vanta10_Tx: WARNING: Vod out of range"};
    pts[2].paramsValid = false;
    pts[3].ok = false;
    pts[3].error = "AMI_Init failed";
    sw = oneAxis(pts);
    rankSweep(sw);
    EXPECT_EQ(sw.best, 4u);
    ASSERT_EQ(sw.warnings.size(), 4u);
    EXPECT_NE(sw.warnings[0].find("sweep point 1 (rx.g=1) gave 1 warning"), std::string::npos);
    EXPECT_NE(sw.warnings[1].find("sweep point 2 (rx.g=2): the models found its settings invalid"),
              std::string::npos);
    EXPECT_NE(sw.warnings[2].find("failed: AMI_Init failed"), std::string::npos);
    EXPECT_NE(sw.warnings[3].find("sweep point 5 (rx.g=5) has no result"), std::string::npos);

    // equal eyes: the point nearest the middle of the grid, on each axis scaled alike
    sw = oneAxis(std::vector<SweepPoint>(5, ranPoint(0.2, 0.5)));
    rankSweep(sw);
    EXPECT_EQ(sw.best, 2u);
    SweepResult grid;
    grid.axes = {{"tx", "a", {"0", "1", "2"}, ""}, {"rx", "b", {"0", "1", "2", "3", "4"}, ""}};
    for (const auto& v : sweepGrid(grid.axes)) {
        grid.points.push_back(ranPoint(0.2, 0.5));
        grid.points.back().values = v;
    }
    rankSweep(grid);
    EXPECT_EQ(grid.best, 7u);  // a=1, b=2
    // closed eyes have no area: no best point
    sw = oneAxis({ranPoint(0, 0), ranPoint(0, 0.2)});
    rankSweep(sw);
    EXPECT_FALSE(sw.best.has_value());
}

TEST(Sweep, ThePointRecordReadsBackAsWrittenAndRefusesAForeignRecord) {
    const std::vector<SweepAxis> axes{{"tx", "tap1", {"3"}, ""}, {"rx", "dfe.mode", {"1"}, ""}};
    SweepPoint p = ranPoint(0.123456789012345, 0.40625);
    p.values = {"3", "1"};
    p.rawEyeHeight = 0.14;
    p.modelWarnings = 2;
    p.warnings = {"a", "b"};
    p.paramsValid = false;
    p.adapted = AdaptedGains{12, 1, 5};
    p.dfeTaps = {{1, -17, -0.0123}, {2, 4, 0.002}};
    p.seconds = 0.25;
    const nlohmann::json j = nlohmann::json::parse(sweepPointToJson(p, axes).dump());
    EXPECT_EQ(j["values"]["rx.dfe.mode"], "1");
    const SweepPoint q = sweepPointFromJson(j, axes);
    EXPECT_EQ(q.values, p.values);
    EXPECT_EQ(q.eyeHeight, p.eyeHeight);  // bit for bit through the text
    EXPECT_EQ(q.eyeWidth, p.eyeWidth);
    EXPECT_EQ(q.warnings, p.warnings);
    EXPECT_EQ(q.paramsValid, std::optional<bool>(false));
    ASSERT_TRUE(q.adapted.has_value());
    EXPECT_EQ(q.adapted->ac, 12);
    EXPECT_EQ(q.adapted->vga, 5);
    ASSERT_EQ(q.dfeTaps.size(), 2u);
    EXPECT_EQ(q.dfeTaps[0].code, -17);
    EXPECT_TRUE(q.ran);

    EXPECT_THROW(sweepPointFromJson(nlohmann::json::parse("[1,2]"), axes), std::runtime_error);
    const std::vector<SweepAxis> other{{"tx", "ptap1", {"0"}, ""}};
    EXPECT_THROW(sweepPointFromJson(j, other), std::runtime_error);
    nlohmann::json broken = j;
    broken["adapted_gains"]["ac_gain"] = "twelve";
    EXPECT_THROW(sweepPointFromJson(broken, axes), std::runtime_error);
}

TEST(Sweep, GainsTheReceiverAdaptsAreRefusedOrFlaggedAndBadAxesAreRefused) {
    const AmiModelFile rx = describeModel(parseAmiText(R"((Rx
  (Model_Specific
    (vga_gain (Usage In) (Type Integer) (List 0 1 2 3) (Default 0))
    (eqz_s4_dc_gain (Usage In) (Type Integer) (List 0 1 2) (Default 2))
    (QPI_sel (Usage In) (Type Integer) (List 0 1) (Default 0))
    (ctle_mode (Usage In) (Type Integer) (List 0 1) (Default 1)))))",
                                                       "rx.ami"));
    const AmiModelFile tx = describeModel(parseAmiText("(Tx (Model_Specific))", "tx.ami"));
    const std::vector<SweepAxis> vga{parseSweep("vga_gain=0:3", tx, rx)};
    EXPECT_EQ(vga[0].unit, "setting code");
    LinkConfig base;
    try {
        checkOverriddenAxes(vga, base, rx);
        ADD_FAILURE() << "a gain the adaptation chooses at every point was swept";
    } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("--rx ctle_mode=0"), std::string::npos) << e.what();
    }
    // by hand the sweep is fine; the DC gain bounds the adaptation and may always be swept
    base.rxOverrides = {{"ctle_mode", "0"}};
    EXPECT_TRUE(checkOverriddenAxes(vga, base, rx).empty());
    EXPECT_TRUE(checkOverriddenAxes({parseSweep("eqz_s4_dc_gain=0:2", tx, rx)}, {}, rx).empty());
    // adapting at half the points: a warning
    const std::vector<SweepAxis> mixed{parseSweep("ctle_mode=0:1", tx, rx), vga[0]};
    const auto w = checkOverriddenAxes(mixed, LinkConfig{}, rx);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_NE(w[0].find("at 4 of 8 points ctle_mode is not 0"), std::string::npos) << w[0];
    // the QPI path fixes the gain whatever ctle_mode says
    base.rxOverrides.push_back({"QPI_sel", "1"});
    EXPECT_THROW(checkOverriddenAxes(vga, base, rx), std::invalid_argument);

    // a word for an integer setting, and the same parameter twice
    EXPECT_NE(errorOf("rx.vga_gain=1,abc,2", tx, rx).find("'abc'"), std::string::npos);
    EXPECT_THROW(checkDistinctAxes({vga[0], parseSweep("rx.vga_gain=0:3", tx, rx)}),
                 std::invalid_argument);
}
