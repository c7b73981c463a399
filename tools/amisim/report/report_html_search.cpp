#include "amisim/report/report_html_search.hpp"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "amisim/report/report_html_sections.hpp"

namespace amisim {

namespace {

using nlohmann::json;

constexpr std::size_t kMaxRows = 500;

std::string number(double v, const char* pattern) {
    if (!std::isfinite(v)) return "-";
    char buf[64];
    std::snprintf(buf, sizeof buf, pattern, v);
    return buf;
}

std::string axisName(const json& axis) { return axis.value("name", std::string()); }

std::string valueOf(const json& point, const json& axis) {
    if (!point.contains("values") || !point["values"].is_object()) return "";
    const json& v = point["values"].value(axisName(axis), json());
    return v.is_string() ? v.get<std::string>() : "";
}

// What the receiver chose at the point: its adapted gains, then its DFE taps.
std::string adaptationCells(const json& p) {
    std::string gains = "-", taps = "-";
    if (p.contains("adapted_gains") && p["adapted_gains"].is_object()) {
        const json& g = p["adapted_gains"];
        gains = "AC " + std::to_string(g.value("ac_gain", 0)) + ", DC " +
                std::to_string(g.value("dc_gain", 0)) + ", VGA " +
                std::to_string(g.value("vga_gain", 0));
    }
    if (p.contains("dfe_taps") && p["dfe_taps"].is_array() && !p["dfe_taps"].empty()) {
        taps.clear();
        for (const json& t : p["dfe_taps"])
            taps += (taps.empty() ? "" : " ") + std::string("tap_") +
                    std::to_string(t.value("tap", 0)) + " " + std::to_string(t.value("code", 0)) +
                    number(t.value("weight", 0.0) * 1e3, " (%.2f mV)");
    }
    return "<td>" + htmlEscaped(gains) + "</td><td>" + htmlEscaped(taps) + "</td>";
}

// The cells of a point after its values: height, width and what the receiver chose.
std::string resultCells(const json& p) {
    if (!p.value("ok", false)) return "<td>-</td><td>-</td><td>-</td><td>-</td>";
    return "<td>" + number(p.value("eye_height", 0.0) * 1e3, "%.2f") + "</td><td>" +
           number(p.value("eye_width", 0.0), "%.3f") + "</td>" + adaptationCells(p);
}

// The last cell: the point's failure, else `note`.
std::string noteCell(const json& p, const std::string& note) {
    return "<td>" + htmlEscaped(p.value("ok", false) ? note : p.value("error", std::string())) +
           "</td>";
}

std::string headerCells(const json& axes) {
    std::string h;
    for (const auto& a : axes) h += "<th>" + htmlEscaped(axisName(a)) + "</th>";
    return h +
           "<th>eye height (mV)</th><th>eye width (UI)</th><th>adapted gains</th>"
           "<th>DFE taps</th>";
}

// Whether the points ran with different analog ends (their settings moved the transmitter's
// corner or front end): the table then says which each ran with.
bool endsVary(const json& points) {
    const json* first = nullptr;
    for (const auto& p : points) {
        if (!p.value("ok", false)) continue;
        if (first == nullptr) {
            first = &p;
        } else if (p.value("ends_corner", std::string()) !=
                       first->value("ends_corner", std::string()) ||
                   p.value("tx_front_end_file", std::string()) !=
                       first->value("tx_front_end_file", std::string())) {
            return true;
        }
    }
    return false;
}

std::string endsCell(const json& p) {
    if (!p.value("ok", false)) return "<td>-</td>";
    std::string ends = p.value("ends_corner", std::string());
    const std::string file = p.value("tx_front_end_file", std::string());
    if (!file.empty())
        ends += (ends.empty() ? "" : ", ") + std::filesystem::path(file).filename().string();
    return "<td>" + htmlEscaped(ends) + "</td>";
}

std::size_t bestIndex(const json& section) {
    const json& b = section.value("best_index", json());
    return b.is_number_integer() && b.get<long long>() >= 0 ? b.get<std::size_t>()
                                                            : static_cast<std::size_t>(-1);
}

}  // namespace

std::string htmlPointValues(const json& axes, const json& point) {
    std::string v;
    for (const auto& a : axes) v += axisName(a) + "=" + valueOf(point, a) + " ";
    return v;
}

std::string htmlSweepSection(const json& r) {
    if (!r.contains("sweep")) return "";
    const json& sw = r["sweep"];
    const json axes = sw.value("axes", json::array());
    const json points = sw.value("points", json::array());
    const bool ends = endsVary(points);
    std::ostringstream h;
    h << "<h2>Sweep</h2>\n<table id=\"sweep\">\n<tr>" << headerCells(axes)
      << (ends ? "<th>analog ends</th>" : "") << "<th>note</th></tr>\n";
    const std::size_t best = bestIndex(sw);
    std::size_t i = 0;
    for (const auto& p : points) {
        if (i >= kMaxRows) break;
        h << "<tr>";
        for (const auto& a : axes) h << "<td>" << htmlEscaped(valueOf(p, a)) << "</td>";
        h << resultCells(p) << (ends ? endsCell(p) : "") << noteCell(p, i == best ? "best" : "")
          << "</tr>\n";
        ++i;
    }
    h << "</table>\n";
    return h.str();
}

std::string htmlOptimizeSection(const json& r) {
    if (!r.contains("optimize")) return "";
    const json& opt = r["optimize"];
    const json axes = opt.value("axes", json::array());
    std::ostringstream h;
    h << "<h2>Optimiser</h2>\n<p id=\"optimize-summary\">"
      << opt.value("evaluations", std::size_t{0}) << " evaluations of the "
      << opt.value("grid_points", std::uint64_t{0}) << "-point grid in " << opt.value("rounds", 0)
      << (opt.value("rounds", 0) == 1 ? " round" : " rounds") << ", ranked by "
      << htmlEscaped(opt.value("objective", std::string())) << "; "
      << htmlEscaped(opt.value("method", std::string())) << ".</p>\n"
      << "<table id=\"optimize\">\n<tr><th>#</th><th>round</th>" << headerCells(axes)
      << "<th>figure</th><th>note</th></tr>\n";
    const std::size_t best = bestIndex(opt);
    std::size_t i = 0;
    for (const auto& p : opt.value("path", json::array())) {
        if (i >= kMaxRows) break;
        h << "<tr><td>" << i + 1 << "</td><td>" << p.value("round", 0) << "</td>";
        for (const auto& a : axes) h << "<td>" << htmlEscaped(valueOf(p, a)) << "</td>";
        const std::string note = i == best                     ? "best"
                                 : !p.value("accepted", false) ? "not accepted"
                                 : i == 0                      ? "start"
                                 : p.value("visited", false)   ? "moved here"
                                                               : "";
        h << resultCells(p) << "<td>"
          << (p.value("ok", false) ? number(p.value("figure", 0.0), "%.6g") : "-") << "</td>"
          << noteCell(p, note) << "</tr>\n";
        ++i;
    }
    h << "</table>\n";
    return h.str();
}

}  // namespace amisim
