#include "amisim/report/report_html_sections.hpp"

#include <cstdio>
#include <sstream>

namespace amisim {

namespace {

using nlohmann::json;

std::string fmt(const char* pattern, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, pattern, v);
    return buf;
}

std::string text(const json& j, const char* key) {
    return j.contains(key) && j[key].is_string() ? j[key].get<std::string>() : std::string();
}

double num(const json& j, const char* key) {
    return j.contains(key) && j[key].is_number() ? j[key].get<double>() : 0.0;
}

}  // namespace

std::string htmlEscaped(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string identificationLine(const std::string& message) {
    std::istringstream in(message);
    std::string line, first;
    while (std::getline(in, line)) {
        if (first.empty() && !line.empty()) first = line;
        if (line.find("Identification") != std::string::npos) return line;
    }
    return first;
}

std::string htmlModelSections(const json& r) {
    std::ostringstream h;
    h << "<h2>Models</h2>\n";
    for (const char* side : {"tx", "rx"}) {
        if (!r.contains(side)) continue;
        const json& m = r[side];
        h << "<h3>" << (std::string(side) == "tx" ? "Transmitter " : "Receiver ")
          << htmlEscaped(text(m, "root_name")) << "</h3>\n<table class=\"model\" id=\"model-"
          << side << "\">\n";
        auto row = [&](const char* k, const std::string& v, bool code = false) {
            h << "<tr><th>" << k << "</th><td>" << (code ? "<pre>" : "") << htmlEscaped(v)
              << (code ? "</pre>" : "") << "</td></tr>\n";
        };
        row("Library", text(m, "library"));
        row("Parameter file", text(m, "ami_file"));
        row("Identification", identificationLine(text(m, "message")));
        row("Parameters received (every value)", text(m, "parameters_in"), true);
        row("Output parameters (AMI_Init)", text(m, "parameters_out"), true);
        if (m.contains("parameters_out_last_getwave"))
            row("Output parameters (last AMI_GetWave)", text(m, "parameters_out_last_getwave"),
                true);
        h << "</table>\n";
    }

    h << "<h2>Jitter budget the models reported</h2>\n<table id=\"jitter\">\n";
    const json j = r.value("jitter_budget", json::object());
    h << "<tr><th>Random jitter (rms, Tx and Rx combined)</th><td>"
      << fmt("%.4g s", num(j, "rj_rms")) << "</td></tr>\n"
      << "<tr><th>Deterministic jitter (peak to peak)</th><td>" << fmt("%.4g s", num(j, "dj_pp"))
      << "</td></tr>\n"
      << "<tr><th>Duty-cycle distortion (peak to peak)</th><td>" << fmt("%.4g s", num(j, "dcd_pp"))
      << "</td></tr>\n"
      << "<tr><th>Receiver sensitivity</th><td>" << fmt("%.4g V", num(j, "rx_sensitivity"))
      << "</td></tr>\n</table>\n";

    const json c = r.value("channel", json::object());
    h << "<h2>Channel</h2>\n<table id=\"channel\">\n";
    h << "<tr><th>Channel</th><td>" << htmlEscaped(text(c, "description")) << "</td></tr>\n";
    if (c.contains("ends"))
        h << "<tr><th>Ends</th><td>" << htmlEscaped(text(c["ends"], "description"))
          << "</td></tr>\n";
    if (c.contains("checks")) {
        const json& k = c["checks"];
        h << "<tr><th>Frequencies covered</th><td>" << fmt("%.4g", num(k, "first_hz") / 1e9)
          << " .. " << fmt("%.4g GHz", num(k, "last_hz") / 1e9) << "</td></tr>\n"
          << "<tr><th>Passivity (largest singular value)</th><td>"
          << fmt("%.5f", num(k, "max_gain")) << fmt(" at %.4g GHz", num(k, "max_gain_at_hz") / 1e9)
          << "</td></tr>\n"
          << "<tr><th>Causality (energy before time zero)</th><td>"
          << fmt("%.3g %%", 100 * num(k, "non_causal_energy")) << "</td></tr>\n"
          << "<tr><th>Loss at the first frequency</th><td>"
          << fmt("%.3f dB", num(k, "low_frequency_loss_db")) << "</td></tr>\n";
    } else {
        h << "<tr><th>Checks</th><td>a built-in line: passive and causal by construction</td>"
             "</tr>\n";
    }
    h << "</table>\n";
    return h.str();
}

std::vector<std::string> reportWarnings(const json& r) {
    std::vector<std::string> out;
    for (const auto& w : r.value("warnings", json::array()))
        if (w.is_string()) out.push_back(w.get<std::string>());
    if (r.contains("sweep") && r["sweep"].contains("points"))
        for (const auto& p : r["sweep"]["points"]) {
            if (p.value("ok", true)) continue;
            std::string values;
            if (p.contains("values") && p["values"].is_object())
                for (auto it = p["values"].begin(); it != p["values"].end(); ++it)
                    values += (values.empty() ? "" : " ") + it.key() + "=" +
                              (it.value().is_string() ? it.value().get<std::string>() : "");
            out.push_back("sweep point " + values + " failed: " + p.value("error", std::string()));
        }
    return out;
}

}  // namespace amisim
