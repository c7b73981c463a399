#include "amisim/report/margin_report.hpp"

#include <cstdio>
#include <iomanip>

#include "amisim/report/plots.hpp"

namespace amisim {

namespace {

std::string html(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
    return out;
}

std::string millivolts(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", v * 1e3);
    return buf;
}

nlohmann::json segmentJson(const SegmentEye& e) {
    return {{"first_bit", e.firstBit},          {"bits", e.bits},
            {"eye_height", e.eyeHeight},        {"level_one_min", e.levelOneMin},
            {"level_zero_max", e.levelZeroMax}, {"signal_level", e.signalLevel},
            {"bit_errors", e.bitErrors}};
}

}  // namespace

nlohmann::json settlingJson(const SettlingCheck& check, const TdEyeResult& eye) {
    nlohmann::json j{{"settled", check.settled},
                     {"quarters_agree", check.quartersAgree},
                     {"locked_before_measuring", check.lockedBeforeMeasuring},
                     {"third_quarter", segmentJson(eye.lastQuarters[0])},
                     {"last_quarter", segmentJson(eye.lastQuarters[1])},
                     {"reasons", check.reasons},
                     {"rule",
                      "settled when the eyes of the third and the last quarter of the measured "
                      "bits agree (heights within 15 % of the larger height or signal level, "
                      "signal levels within 5 %) and the clock recovery locked before the first "
                      "measured bit"}};
    if (!check.settled) {
        j["suggested_ignore_bits"] = check.suggestedIgnoreBits;
        j["suggested_bits"] = check.suggestedBits;
        j["warning"] = check.warning;
    }
    return j;
}

nlohmann::json marginWalkJson(const MarginWalk& walk) {
    nlohmann::json steps = nlohmann::json::array();
    for (const MarginStep& s : walk.steps)
        steps.push_back({{"key", s.key},
                         {"name", s.name},
                         {"mode", s.mode},
                         {"description", s.description},
                         {"eye_height", s.eyeHeight},
                         {"phase_ui", s.phaseUi},
                         {"measured", s.measured},
                         {"note", s.note}});
    return {{"steps", steps}, {"notes", walk.notes}};
}

void printMarginWalk(std::ostream& os, const MarginWalk& walk) {
    if (walk.steps.empty()) return;
    os << "  where the margin goes (each step run, not estimated):\n";
    double previous = 0;
    for (std::size_t i = 0; i < walk.steps.size(); ++i) {
        const MarginStep& s = walk.steps[i];
        os << "    " << std::left << std::setw(36) << s.name << std::right << std::fixed
           << std::setprecision(2) << std::setw(9) << s.eyeHeight * 1e3 << " mV";
        if (i > 0)
            os << "  (" << std::showpos << std::setw(8) << (s.eyeHeight - previous) * 1e3
               << std::noshowpos << " mV)";
        else
            os << "             ";
        os << "  " << s.description;
        if (!s.note.empty()) os << " [" << s.note << "]";
        os << "\n";
        previous = s.eyeHeight;
    }
    for (const std::string& n : walk.notes) os << "    note: " << n << "\n";
}

std::string marginWalkHtml(const nlohmann::json& report) {
    if (!report.contains("margin_walk")) return {};
    const nlohmann::json& w = report["margin_walk"];
    std::string h =
        "<h2>Where the margin goes</h2>\n<table id=\"margin_walk\">\n"
        "<tr><th>step</th><th>mode</th><th>eye height (mV)</th><th>change "
        "(mV)</th><th>how it was measured</th></tr>\n";
    double previous = 0;
    bool first = true;
    for (const auto& s : w.value("steps", nlohmann::json::array())) {
        const double height = s.value("eye_height", 0.0);
        h += "<tr><td>" + html(s.value("name", std::string())) + "</td><td>" +
             html(s.value("mode", std::string())) + "</td><td>" + millivolts(height) + "</td><td>" +
             (first ? std::string() : millivolts(height - previous)) + "</td><td>" +
             html(s.value("description", std::string()));
        const std::string note = s.value("note", std::string());
        if (!note.empty()) h += " (" + html(note) + ")";
        h += "</td></tr>\n";
        previous = height;
        first = false;
    }
    h += "</table>\n";
    for (const auto& n : w.value("notes", nlohmann::json::array()))
        h += "<p>" + html(n.get<std::string>()) + "</p>\n";
    return h;
}

void marginWalkPicture(const std::string& path, const MarginWalk& walk,
                       const std::string& subtitle) {
    if (walk.steps.empty()) return;
    Curve c;
    c.colour = Rgb{0.15, 0.35, 0.8};
    c.markers = true;
    std::vector<PlotNote> notes;
    double top = 0;
    for (std::size_t i = 0; i < walk.steps.size(); ++i) {
        const MarginStep& s = walk.steps[i];
        c.x.push_back(static_cast<double>(i + 1));
        c.y.push_back(s.eyeHeight * 1e3);
        top = std::max(top, s.eyeHeight * 1e3);
        notes.push_back(PlotNote{static_cast<double>(i + 1), s.eyeHeight * 1e3,
                                 std::to_string(i + 1) + ": " + s.name});
    }
    c.label = "eye height after each step";
    PlotAxes a;
    a.x0 = 0.5;
    a.x1 = static_cast<double>(walk.steps.size()) + 0.5;
    a.y0 = 0;
    a.y1 = std::max(1.0, 1.15 * top);
    a.xLabel =
        "step (statistical steps at the target BER, time-domain steps over the measured bits)";
    a.yLabel = "eye height (mV)";
    a.title = "Where the margin goes: from the statistical to the time-domain eye";
    a.subtitle = subtitle;
    plotCurves(path, {c}, a, notes);
}

}  // namespace amisim
