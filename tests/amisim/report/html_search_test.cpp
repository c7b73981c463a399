// report.html's sweep table and optimiser path: each point with the gains and DFE taps the
// receiver's adaptation chose there, its failure, and which point is best.
#include <gtest/gtest.h>

#include "amisim/report/report_html_search.hpp"
#include "amisim/run/sweep_point.hpp"

using namespace amisim;
using nlohmann::json;

namespace {

std::vector<SweepAxis> axes() { return {{"tx", "tap1", {"0", "1"}, ""}}; }

json points() {
    SweepPoint a;
    a.values = {"0"};
    a.ran = a.ok = true;
    a.eyeHeight = 0.3;
    a.eyeWidth = 0.5;
    a.adapted = AdaptedGains{7, 2, 3};
    a.dfeTaps = {{1, 40, 0.083307}, {2, -7, -0.011}};
    SweepPoint b;
    b.values = {"1"};
    b.ran = true;
    b.error = "the point's process was killed by signal 9";
    return json::array({sweepPointToJson(a, axes()), sweepPointToJson(b, axes())});
}

json axesJson() { return json::array({{{"name", "tx.tap1"}, {"values", {"0", "1"}}}}); }

}  // namespace

TEST(HtmlSearchSections, RowsShowWhatTheAdaptationChoseAndFailures) {
    const json report{{"sweep", {{"axes", axesJson()}, {"points", points()}, {"best_index", 0}}}};
    const std::string h = htmlSweepSection(report);
    EXPECT_NE(h.find("<th>adapted gains</th><th>DFE taps</th>"), std::string::npos) << h;
    EXPECT_NE(h.find("<td>0</td><td>300.00</td><td>0.500</td><td>AC 7, DC 2, VGA 3</td>"
                     "<td>tap_1 40 (83.31 mV) tap_2 -7 (-11.00 mV)</td><td>best</td>"),
              std::string::npos)
        << h;
    EXPECT_NE(h.find("<td>1</td><td>-</td><td>-</td><td>-</td><td>-</td><td>the point's "
                     "process was killed by signal 9</td>"),
              std::string::npos)
        << h;
    EXPECT_EQ(htmlOptimizeSection(report), "");

    json path = points();
    path[0]["figure"] = 0.15;
    path[0]["accepted"] = true;
    path[1]["accepted"] = false;
    const json opt{{"optimize",
                    {{"axes", axesJson()},
                     {"path", path},
                     {"best_index", 0},
                     {"evaluations", 2},
                     {"grid_points", 2},
                     {"rounds", 1}}}};
    const std::string o = htmlOptimizeSection(opt);
    EXPECT_NE(o.find("2 evaluations of the 2-point grid in 1 round,"), std::string::npos) << o;
    EXPECT_NE(o.find("<td>tap_1 40 (83.31 mV) tap_2 -7 (-11.00 mV)</td><td>0.15</td><td>best</td>"),
              std::string::npos)
        << o;
}

TEST(HtmlSearchSections, RowsSayWhichAnalogEndsEachRanWithWhenTheyDiffer) {
    json pts = points();
    pts[0]["ends_corner"] = "typ";
    pts[0]["tx_front_end_file"] = "/kit/front_end_tt_1.s4p";
    json same{{"sweep", {{"axes", axesJson()}, {"points", pts}, {"best_index", 0}}}};
    // one corner for every point that ran: nothing to tell apart
    EXPECT_EQ(htmlSweepSection(same).find("analog ends"), std::string::npos);

    json second = pts[0];
    second["tap1"] = "1";
    second["ends_corner"] = "max";
    second["tx_front_end_file"] = "/kit/front_end_ff_1.s4p";
    pts.push_back(second);
    const json differ{{"sweep", {{"axes", axesJson()}, {"points", pts}, {"best_index", 0}}}};
    const std::string h = htmlSweepSection(differ);
    EXPECT_NE(h.find("<th>analog ends</th><th>note</th>"), std::string::npos) << h;
    EXPECT_NE(h.find("<td>typ, front_end_tt_1.s4p</td><td>best</td>"), std::string::npos) << h;
    EXPECT_NE(h.find("<td>max, front_end_ff_1.s4p</td><td></td>"), std::string::npos) << h;
    // the failed point has no ends to tell
    EXPECT_NE(h.find("<td>-</td><td>the point's process"), std::string::npos) << h;
}
