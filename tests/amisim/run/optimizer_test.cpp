// The transmitter-tap optimiser: its search against brute force over the whole grid, which
// settings it accepts, and the real kit's taps found as the exhaustive sweep finds them.
#include "amisim/run/optimizer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>

#include "test_support.hpp"

using namespace amisim;

namespace {

using Point = std::vector<std::size_t>;
using Figure = std::function<SearchScore(const Point&)>;

// Every point of the grid, first axis slowest.
std::vector<Point> allPoints(const std::vector<std::size_t>& sizes) {
    std::vector<Point> pts{{}};
    for (std::size_t n : sizes) {
        std::vector<Point> next;
        for (const Point& p : pts)
            for (std::size_t k = 0; k < n; ++k) {
                next.push_back(p);
                next.back().push_back(k);
            }
        pts = next;
    }
    return pts;
}

// The brute-force answer: the highest eligible figure; equal figures go to the point nearest
// the middle of the grid (each axis scaled to a span of 1), then to the first in grid order.
std::optional<Point> bruteForceBest(const std::vector<std::size_t>& sizes, const Figure& f) {
    std::optional<Point> best;
    double bestScore = 0, bestOff = 0;
    for (const Point& p : allPoints(sizes)) {
        const SearchScore s = f(p);
        if (!s.eligible) continue;
        double off = 0;
        for (std::size_t a = 0; a < sizes.size(); ++a)
            if (sizes[a] > 1) {
                const double x = (p[a] - 0.5 * (sizes[a] - 1.0)) / (sizes[a] - 1.0);
                off += x * x;
            }
        if (!best || s.score > bestScore + 1e-12 ||
            (std::abs(s.score - bestScore) <= 1e-12 && off < bestOff)) {
            best = p;
            bestScore = s.score;
            bestOff = off;
        }
    }
    return best;
}

struct Counted {
    std::set<Point> seen;
    std::size_t calls = 0;
    bool repeated = false;
    std::size_t largestBatch = 0;
};

SearchOutcome search(const std::vector<std::size_t>& sizes, const Point& start, const Figure& f,
                     Counted& c) {
    return coordinateSearch(sizes, start, [&](const std::vector<Point>& batch, int) {
        std::vector<SearchScore> out;
        c.largestBatch = std::max(c.largestBatch, batch.size());
        for (const Point& p : batch) {
            c.repeated = c.repeated || !c.seen.insert(p).second;
            ++c.calls;
            out.push_back(f(p));
        }
        return out;
    });
}

double q(const Point& p, double x0, double y0) {
    const double x = static_cast<double>(p[0]) - x0, y = static_cast<double>(p[1]) - y0;
    return -(x * x) - 2 * y * y + 0.5 * x * y;
}

AmiModelFile transmitterFile() {
    return describeModel(parseAmiText(R"((Tx
  (Model_Specific
    (tap1 (Usage In) (Type Integer) (Range 2 0 7) (Default 2))
    (ptap1 (Usage In) (Type Integer) (Range 0 0 3) (Default 9))
    (inv (Usage In) (Type Integer) (List 0 1) (Default 0))
    (swing (Usage In) (Type Float) (Range 1 0 2) (Default 1))
    (mode (Usage In) (Type Integer) (Default 0)))))",
                                      "tx.ami"));
}

AmiModelFile receiverFile() {
    return describeModel(parseAmiText(R"((Rx
  (Model_Specific (vga_gain (Usage In) (Type Integer) (Range 1 0 7) (Default 1)))))",
                                      "rx.ami"));
}

std::string refusal(const std::string& names, const std::vector<std::string>& ranges = {}) {
    try {
        parseOptimizeAxes(names, ranges, transmitterFile(), receiverFile());
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(Optimizer, SearchFindsTheBruteForceBestWithFewerEvaluations) {
    const std::vector<std::size_t> sizes{8, 16};
    const std::vector<std::pair<std::string, Figure>> cases{
        {"a coupled peak inside the grid",
         [](const Point& p) {
             return SearchScore{true, q(p, 5, 11)};
         }},
        {"a peak beyond the grid's edge",
         [](const Point& p) {
             return SearchScore{true, q(p, 9.5, -3)};
         }},
        // the best figure is refused (a warned point); two neighbours tie, the one nearer the
        // middle wins
        {"a refused peak",
         [](const Point& p) {
             return SearchScore{!(p[0] == 5 && p[1] == 11), q(p, 5, 11)};
         }},
        // a flat figure: every point ties, the middle wins
        {"a flat figure",
         [](const Point&) {
             return SearchScore{true, 1.0};
         }},
    };
    for (const auto& [name, f] : cases) {
        SCOPED_TRACE(name);
        Counted c;
        const SearchOutcome got = search(sizes, {0, 0}, f, c);
        ASSERT_TRUE(got.best.has_value());
        EXPECT_EQ(*got.best, *bruteForceBest(sizes, f));
        EXPECT_FALSE(c.repeated) << "a point was evaluated twice";
        EXPECT_EQ(got.evaluations, c.calls);
        EXPECT_LT(c.calls, 8u * 16u / 3) << "the search should cost far less than the grid";
        EXPECT_LE(c.largestBatch, 2u);  // one step's two neighbours at a time
        EXPECT_EQ(got.positions.front(), (Point{0, 0}));
        EXPECT_EQ(got.positions.back(), *got.best);
    }
    // the refused peak's tie: (4, 11) and (6, 11) score the same; 4 lies nearer the middle
    Counted c;
    const auto refused = search(sizes, {0, 0}, cases[2].second, c);
    EXPECT_EQ(*refused.best, (Point{4, 11}));
}

TEST(Optimizer, SearchNeverChoosesARefusedPoint) {
    Counted c;
    const auto none = search(
        {4, 4}, {1, 1},
        [](const Point&) {
            return SearchScore{false, 9.0};
        },
        c);
    EXPECT_FALSE(none.best.has_value());
    EXPECT_EQ(c.calls, 5u);  // the start and its four neighbours, then nowhere to go
    // a refused start: the search still moves to its better neighbours
    Counted d;
    const Figure f = [](const Point& p) { return SearchScore{p != Point{0, 0}, q(p, 2, 2)}; };
    const auto moved = search({4, 4}, {0, 0}, f, d);
    ASSERT_TRUE(moved.best.has_value());
    EXPECT_EQ(*moved.best, (Point{2, 2}));
}

TEST(Optimizer, AcceptsTransmitterIntegerSettingsWithTheirRanges) {
    const AmiModelFile tx = transmitterFile(), rx = receiverFile();
    auto axes = parseOptimizeAxes("tx.tap1,inv", {}, tx, rx);
    ASSERT_EQ(axes.size(), 2u);
    EXPECT_EQ(axes[0].name(), "tx.tap1");
    EXPECT_EQ(axes[0].values, (std::vector<std::string>{"0", "1", "2", "3", "4", "5", "6", "7"}));
    EXPECT_EQ(axes[1].values, (std::vector<std::string>{"0", "1"}));
    axes = parseOptimizeAxes("tx.tap1,tx.ptap1", {"tap1=3:5"}, tx, rx);
    EXPECT_EQ(axes[0].values, (std::vector<std::string>{"3", "4", "5"}));

    // the defaults, an override, and a default off the axis moved to its nearest code
    LinkConfig base;
    EXPECT_EQ(optimizeStart(parseOptimizeAxes("tap1,ptap1", {}, tx, rx), base, tx),
              (std::vector<std::size_t>{2, 3}));
    base.txOverrides = {{"tap1", "6"}};
    EXPECT_EQ(optimizeStart(axes, base, tx), (std::vector<std::size_t>{2, 3}));

    EXPECT_NE(refusal("rx.vga_gain").find("receiver parameter"), std::string::npos);
    EXPECT_NE(refusal("vga_gain").find("receiver parameter"), std::string::npos);
    EXPECT_NE(refusal("tx.swing").find("of type Float"), std::string::npos);
    EXPECT_NE(refusal("tx.nosuch").find("no input parameter 'nosuch'"), std::string::npos);
    EXPECT_NE(refusal("tx.mode").find("neither a Range nor a List"), std::string::npos);
    EXPECT_NE(refusal("tx.tap1,tap1").find("twice"), std::string::npos);
    EXPECT_NE(refusal("tx.tap1,").find("empty name"), std::string::npos);
    EXPECT_NE(refusal("tx.tap1", {"tx.tap1=5:9"}).find("outside tx.tap1's codes 0 .. 7"),
              std::string::npos);
    EXPECT_NE(refusal("tx.tap1", {"tx.tap1=5"}).find("NAME=A:B"), std::string::npos);
    EXPECT_NE(refusal("tx.tap1", {"tx.ptap1=0:1"}).find("does not limit"), std::string::npos);
}

TEST(Optimizer, CommandLineRefusesWhatItCannotSearch) {
    amisim_test::FakeKit k;
    const std::string out = " --out " + k.dir.file("out") + " --mode stat --quiet";
    auto r = amisim_test::runAmisim(k.dir, k.options() + out + " --optimize tx.gain");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("tx.gain is of type Float"), std::string::npos) << r.err;
    r = amisim_test::runAmisim(k.dir,
                               k.options() + out + " --optimize tx.corner --sweep tx.gain=1,2");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("does not combine with --sweep"), std::string::npos) << r.err;
    r = amisim_test::runAmisim(k.dir, k.options() + out + " --optimize-range tx.corner=0:1");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("there is no --optimize"), std::string::npos) << r.err;
}

// The real models: on a 3 x 3 grid of de-emphasis and pre-cursor codes the optimiser picks the
// point the exhaustive sweep picks, after fewer evaluations, and runs the link there.
TEST(Optimizer, RealKitFindsTheSweepsBestPoint) {
    amisim_test::TempDir dir;
    const std::string common = std::string(" --kit ") + KIT_DIR +
                               " --mode stat --quiet --jobs 2 --tx inv_tap1=1 --tx inv_ptap1=1";
    const auto sweep = amisim_test::runAmisim(
        dir, common + " --out " + dir.file("sweep") + " --sweep tx.tap1=0:2 --sweep tx.ptap1=0:2");
    ASSERT_EQ(sweep.status, 0) << sweep.err;
    const auto opt =
        amisim_test::runAmisim(dir, common + " --out " + dir.file("opt") +
                                        " --optimize tx.tap1,tx.ptap1 --optimize-range tx.tap1=0:2"
                                        " --optimize-range tx.ptap1=0:2");
    ASSERT_EQ(opt.status, 0) << opt.err;
    const auto sj = nlohmann::json::parse(amisim_test::readFile(dir.file("sweep/report.json")));
    const auto oj = nlohmann::json::parse(amisim_test::readFile(dir.file("opt/report.json")));
    const auto& sweepBest = sj["sweep"]["points"][sj["sweep"]["best_index"].get<std::size_t>()];
    const auto& o = oj["optimize"];
    const auto& optBest = o["path"][o["best_index"].get<std::size_t>()];
    EXPECT_EQ(optBest["values"], sweepBest["values"]);
    EXPECT_DOUBLE_EQ(optBest["eye_height"].get<double>(), sweepBest["eye_height"].get<double>());
    EXPECT_EQ(o["grid_points"], 9);
    EXPECT_LT(o["evaluations"].get<int>(), 9);
    EXPECT_EQ(o["path"].size(), o["evaluations"].get<std::size_t>());
    EXPECT_EQ(o["path"][0]["values"], (nlohmann::json{{"tx.tap1", "0"}, {"tx.ptap1", "0"}}));
    // the full link ran at the best point: its transmitter got those codes
    const std::string txIn = oj["tx"]["parameters_in"].get<std::string>();
    EXPECT_NE(txIn.find("(tap1 " + optBest["values"]["tx.tap1"].get<std::string>() + ")"),
              std::string::npos)
        << txIn;
    EXPECT_NE(opt.out.find("best optimiser point: tx.tap1="), std::string::npos) << opt.out;
    const std::string page = amisim_test::readFile(dir.file("opt/report.html"));
    EXPECT_NE(page.find("<table id=\"optimize\">"), std::string::npos);
    EXPECT_NE(page.find("Best optimiser point"), std::string::npos);
}
