// report.html: one self-contained page (pictures embedded as data URLs) with the summary table,
// the warnings and every picture of the run.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "amisim/report/margin_report.hpp"
#include "amisim/report/output_folder.hpp"
#include "amisim/report/report.hpp"
#include "amisim/report/report_html_search.hpp"
#include "amisim/report/report_html_sections.hpp"

namespace amisim {

namespace {

using nlohmann::json;

std::string base64(const std::string& bytes) {
    static const char* kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        for (int k = 3; k >= 0; --k) out += kAlphabet[(v >> (6 * k)) & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string number(double v, const char* pattern) {
    if (!std::isfinite(v)) return "-";
    char buf[64];
    std::snprintf(buf, sizeof buf, pattern, v);
    return buf;
}

double get(const json& j, const char* a, const char* b) {
    if (!j.contains(a) || !j[a].contains(b) || !j[a][b].is_number()) return NAN;
    return j[a][b].get<double>();
}

const std::map<std::string, std::string>& captions() {
    static const std::map<std::string, std::string> c{
        {outfile::kEyeStatistical, "Statistical eye with the BER contours"},
        {outfile::kEyeTimeDomain, "Time-domain eye, centred on the sampling point"},
        {outfile::kBathtub, "Bathtub curves of both modes"},
        {outfile::kPulseResponse, "Pulse response at the receiver output, with its cursors"},
        {outfile::kChannelPulse, "Pulse response of the channel alone, with its cursors"},
        {outfile::kChannelImpulse, "Impulse response of the channel"},
        {outfile::kFrequencyResponse,
         "Frequency responses of the channel, the models and the link"},
        {outfile::kClockPeriod, "Recovered clock period against bits"},
        {outfile::kDfeTaps, "DFE taps against bits"},
        {outfile::kSweepPicture, "Statistical eye height over the sweep"}};
    return c;
}

}  // namespace

std::string htmlReport(const json& r, const std::string& outDir) {
    std::ostringstream h;
    h << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      << "<title>amisim report</title>\n<style>\n"
      << "body{font-family:sans-serif;margin:2em;max-width:1040px;color:#222}\n"
      << "table{border-collapse:collapse;margin:1em 0}td,th{border:1px solid #bbb;padding:4px "
         "8px;text-align:left;vertical-align:top}th{background:#eee}\n"
      << "figure{margin:2em 0}img{max-width:100%;border:1px solid #ddd}"
      << "figcaption{color:#555;margin-top:.4em}\n.warn{color:#a40}code{font-size:90%}\n"
      << "</style>\n</head>\n<body>\n<h1>amisim report</h1>\n";
    std::string command;
    for (const auto& a : r.value("command_line", json::array()))
        command += a.get<std::string>() + " ";
    h << "<p>" << htmlEscaped(r.value("date", std::string())) << "; amisim "
      << htmlEscaped(r.value("version", std::string())) << "; command: <code>"
      << htmlEscaped(command) << "</code></p>\n";

    h << "<h2>Summary</h2>\n<table id=\"summary\">\n";
    auto row = [&](const std::string& k, const std::string& v) {
        h << "<tr><th>" << htmlEscaped(k) << "</th><td>" << htmlEscaped(v) << "</td></tr>\n";
    };
    const json& link = r["link"];
    row("Bit rate", number(link.value("bit_rate", 0.0) / 1e9, "%.4f Gb/s"));
    row("Channel", r["channel"].value("description", std::string()));
    row("Channel loss at Nyquist", number(get(r, "channel", "loss_at_nyquist_db"), "%.2f dB"));
    if (r["channel"].contains("ends")) {
        const json& e = r["channel"]["ends"];
        row("Analog ends", e.value("description", std::string()));
        if (e.value("analog", false)) {
            std::string cost = number(e.value("cost_at_nyquist_db", 0.0), "%.2f dB at Nyquist");
            if (e.contains("eye_height_cost")) {
                cost += number(e.value("eye_height_cost", 0.0) * 1e3,
                               ", %.2f mV of statistical eye height");
                const std::string settings = e.value("eye_height_cost_settings", std::string());
                if (!settings.empty()) cost += " " + settings;
            }
            row("Cost of the ends", cost);
        }
    }
    row("Transmitter", r["tx"].value("root_name", std::string()) + " (" +
                           r["tx"].value("library", std::string()) + ")");
    row("Receiver", r["rx"].value("root_name", std::string()) + " (" +
                        r["rx"].value("library", std::string()) + ")");
    if (r.contains("statistical")) {
        const json& s = r["statistical"];
        row("Statistical eye", number(s.value("eye_height", 0.0) * 1e3, "height %.2f mV") + ", " +
                                   number(s.value("eye_width", 0.0), "width %.3f UI") + " at BER " +
                                   number(s.value("ber", 0.0), "%.0e"));
        row("Statistical mode includes", s.value("includes", std::string()));
    }
    if (r.contains("time_domain")) {
        const json& t = r["time_domain"];
        row("Time-domain eye",
            number(t.value("eye_height", 0.0) * 1e3, "height %.2f mV") + ", " +
                number(t.value("eye_width", 0.0), "width %.3f UI") + ", " +
                std::to_string(t.value("bit_errors", 0)) +
                (t.value("bit_errors", 0) == 1 ? " bit error in " : " bit errors in ") +
                std::to_string(t.value("sampled_bits", 0)) + " bits (" +
                (t.value("sampling", std::string()) == "rx_clock_times"
                     ? "sampled half a bit after the receiver's clock times"
                     : "sampled at the best phase") +
                ")");
        row("Time-domain mode includes", t.value("includes", std::string()));
    }
    if (r.contains("eye_mask")) {
        const json& m = r["eye_mask"];
        auto verdict = [&](const char* key) {
            const json& c = m[key];
            if (!c.is_object()) return std::string("not checked (the eye does not span it)");
            return std::string(c.value("pass", false) ? "PASS" : "FAIL") +
                   number(c.value("margin", 0.0) * 1e3, ", margin %.2f mV") +
                   number(c.value("worst_phase_ui", 0.0), " at %+.2f UI");
        };
        const std::string name = number(m.value("height", 0.0) * 1e3, "Eye mask %.1f mV") +
                                 number(m.value("width_ui", 0.0), " x %.2f UI");
        if (r.contains("statistical")) row(name + ", statistical eye", verdict("statistical"));
        if (r.contains("time_domain")) row(name + ", time-domain eye", verdict("time_domain"));
    }
    if (r.contains("clock_recovery")) {
        const json& c = r["clock_recovery"];
        row("Clock recovery",
            number(c.value("mean_period", 0.0) * 1e12, "mean period %.4f ps") + ", " +
                number(c.value("ppm", 0.0), "%+.1f ppm") +
                (c.value("locked", false)
                     ? ", locked after " + std::to_string(c["lock_bit"].get<long long>()) + " bits"
                     : ", never settled") +
                (c.value("lock_source", std::string()) == "receiver"
                     ? " (the receiver's lock detector)"
                     : ""));
    }
    if (r["rx"].contains("adapted_gains")) {
        const json& g = r["rx"]["adapted_gains"];
        row("Adapted gains", "AC " + std::to_string(g.value("ac_gain", 0)) + ", DC " +
                                 std::to_string(g.value("dc_gain", 0)) + ", VGA " +
                                 std::to_string(g.value("vga_gain", 0)));
    }
    if (r.contains("dfe")) {
        std::string taps;
        for (const auto& t : r["dfe"]["final_taps"])
            taps += "tap_" + std::to_string(t.value("tap", 0)) + " " +
                    std::to_string(t.value("code", 0)) +
                    number(t.value("weight", 0.0) * 1e3, " (%.2f mV)  ");
        row("Final DFE taps", taps);
    }
    if (r.contains("sweep") && !r["sweep"]["best_index"].is_null()) {
        const json& best = r["sweep"]["points"][r["sweep"]["best_index"].get<std::size_t>()];
        std::string v;
        for (auto it = best["values"].begin(); it != best["values"].end(); ++it)
            v += it.key() + "=" + it.value().get<std::string>() + " ";
        row("Best sweep point", v + number(best.value("eye_height", 0.0) * 1e3, "(%.2f mV)"));
    }
    if (r.contains("optimize") && r["optimize"]["best_index"].is_number_integer() &&
        r["optimize"]["best_index"].get<long long>() >= 0) {
        const json& opt = r["optimize"];
        const json& best = opt["path"][opt["best_index"].get<std::size_t>()];
        row("Best optimiser point", htmlPointValues(opt["axes"], best) +
                                        number(best.value("eye_height", 0.0) * 1e3, "(%.2f mV, ") +
                                        number(best.value("eye_width", 0.0), "%.3f UI, ") +
                                        std::to_string(opt.value("evaluations", 0)) + " of " +
                                        std::to_string(opt.value("grid_points", std::uint64_t{0})) +
                                        " grid points evaluated)");
    }
    h << "</table>\n";

    h << marginWalkHtml(r);
    h << htmlModelSections(r);

    h << "<h2>Warnings</h2>\n";
    const std::vector<std::string> warnings = reportWarnings(r);
    if (warnings.empty()) {
        h << "<p id=\"warnings\">None.</p>\n";
    } else {
        h << "<ul id=\"warnings\">\n";
        for (const auto& w : warnings) h << "<li class=\"warn\">" << htmlEscaped(w) << "</li>\n";
        h << "</ul>\n";
    }

    h << htmlSweepSection(r);
    h << htmlOptimizeSection(r);

    h << "<h2>Pictures</h2>\n";
    for (const auto& name : r.value("pictures", json::array())) {
        const std::string file = name.get<std::string>();
        std::ifstream in(std::filesystem::path(outDir) / file, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        const auto cap = captions().find(file);
        const std::string caption = cap != captions().end() ? cap->second : file;
        h << "<figure id=\"" << htmlEscaped(file) << "\"><img alt=\"" << htmlEscaped(caption)
          << "\" onload=\"this.dataset.loaded='1'\" src=\"data:image/png;base64,"
          << base64(bytes.str()) << "\"><figcaption>" << htmlEscaped(caption) << " ("
          << htmlEscaped(file) << ")</figcaption></figure>\n";
    }
    h << "<h2>Tables</h2>\n<ul>\n";
    // the tables sit beside the page: relative links open them from wherever it was sent with them
    for (const auto& name : r.value("csv", json::array()))
        h << "<li><a href=\"" << htmlEscaped(name.get<std::string>()) << "\">"
          << htmlEscaped(name.get<std::string>()) << "</a></li>\n";
    if (r.contains("waveform"))
        h << "<li>" << htmlEscaped(r["waveform"].value("file", std::string()))
          << " (receiver output waveform)</li>\n";
    h << "<li><a href=\"" << outfile::kReportJson << "\">" << outfile::kReportJson
      << "</a></li>\n</ul>\n</body>\n</html>\n";
    return h.str();
}

}  // namespace amisim
