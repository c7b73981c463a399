// The CSV tables of a run: the BER contours, both bathtubs, the cursors, the frequency
// responses, the clock recovery, the DFE taps and the sweep.
#include <cmath>
#include <cstdio>
#include <sstream>

#include "amisim/eye/cursors.hpp"
#include "amisim/report/output_folder.hpp"
#include "amisim/report/report.hpp"

namespace amisim {

namespace {

std::string cell(double v) {
    if (!std::isfinite(v)) return "";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", v);
    return buf;
}

std::string csvField(const std::string& s) {
    if (s.find_first_of(",\"\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

std::string berLabel(double ber) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0e", ber);
    return buf;
}

class Table {
  public:
    explicit Table(std::vector<std::string> header) {
        for (std::size_t i = 0; i < header.size(); ++i)
            os_ << (i ? "," : "") << csvField(header[i]);
        os_ << "\n";
    }
    void row(const std::vector<std::string>& cells) {
        for (std::size_t i = 0; i < cells.size(); ++i) os_ << (i ? "," : "") << cells[i];
        os_ << "\n";
    }
    std::string text() const { return os_.str(); }

  private:
    std::ostringstream os_;
};

}  // namespace

std::vector<std::string> writeCsvFiles(const std::string& outDir, const LinkConfig&,
                                       const LinkResult& res, const SweepResult* sweep) {
    std::vector<std::string> names;
    auto save = [&](const char* name, const Table& t) {
        writeTextFile(outDir, name, t.text());
        names.push_back(name);
    };
    if (res.stat) {
        const StatEyeResult& s = *res.stat;
        std::vector<std::string> header{"phase_ui"};
        for (const BerContour& c : s.contours) {
            header.push_back("upper_mv_ber_" + berLabel(c.ber));
            header.push_back("lower_mv_ber_" + berLabel(c.ber));
        }
        Table contour(header);
        for (std::size_t i = 0; i < s.phaseUi.size(); ++i) {
            std::vector<std::string> row{cell(s.phaseUi[i])};
            for (const BerContour& c : s.contours) {
                const double v = c.inner[i] > 0 ? c.inner[i] * 1e3 : NAN;
                row.push_back(cell(v));
                row.push_back(cell(-v));
            }
            contour.row(row);
        }
        save(outfile::kEyeContourCsv, contour);
        Table tub({"phase_from_main_cursor_ui", "phase_from_best_phase_ui", "ber"});
        for (std::size_t i = 0; i < s.phaseUi.size(); ++i)
            tub.row({cell(s.phaseUi[i]), cell(s.phaseUi[i] - s.bestPhaseUi), cell(s.bathtub[i])});
        save(outfile::kBathtubStatCsv, tub);
    }
    if (res.td) {
        const TdEyeResult& t = *res.td;
        Table tub(
            {"phase_from_sampling_point_ui", "ber_counted", "ber_extrapolated", "opening_mv"});
        for (std::size_t i = 0; i < t.phaseUi.size(); ++i)
            tub.row({cell(t.phaseUi[i]), cell(t.berCounted[i]), cell(t.berExtrapolated[i]),
                     cell(t.openingByPhase[i] * 1e3)});
        save(outfile::kBathtubTdCsv, tub);
    }
    {
        const auto link = pulseCursors(res.pulse);
        const auto channel = pulseCursors(res.channelPulse);
        Table t({"cursor", "channel_mv", "link_mv"});
        for (int k = -3; k <= 40; ++k) {
            double c = NAN, l = NAN;
            for (const Cursor& x : channel)
                if (x.index == k) c = x.volts * 1e3;
            for (const Cursor& x : link)
                if (x.index == k) l = x.volts * 1e3;
            if (std::isfinite(c) || std::isfinite(l)) t.row({std::to_string(k), cell(c), cell(l)});
        }
        save(outfile::kCursorsCsv, t);
    }
    if (res.frequency) {
        const LinkFrequencyResponse& f = *res.frequency;
        Table t({"frequency_ghz", "channel_db", "tx_db", "rx_db", "link_db"});
        for (std::size_t i = 0; i < f.hz.size(); ++i)
            t.row({cell(f.hz[i] / 1e9), cell(f.channelDb[i]), cell(f.txDb[i]), cell(f.rxDb[i]),
                   cell(f.linkDb[i])});
        save(outfile::kFrequencyCsv, t);
    }
    if (res.clock) {
        Table t({"bit", "period_s", "ppm"});
        for (std::size_t i = 0; i < res.clock->windowBit.size(); ++i)
            t.row({cell(res.clock->windowBit[i]), cell(res.clock->windowPeriod[i]),
                   cell((res.clock->windowPeriod[i] - res.bitTime) / res.bitTime * 1e6)});
        save(outfile::kClockCsv, t);
    }
    if (!res.dfeTaps.empty()) {
        std::vector<std::string> header{"bit"};
        for (const DfeTap& tap : res.dfeTaps.back().taps) {
            header.push_back("tap_" + std::to_string(tap.index) + "_code");
            header.push_back("tap_" + std::to_string(tap.index) + "_weight");
        }
        Table t(header);
        for (const DfeTapSnapshot& s : res.dfeTaps) {
            std::vector<std::string> row{std::to_string(s.bit)};
            for (const DfeTap& tap : s.taps) {
                row.push_back(std::to_string(tap.code));
                row.push_back(cell(tap.weight));
            }
            t.row(row);
        }
        save(outfile::kDfeTapsCsv, t);
    }
    if (sweep) {
        std::vector<std::string> header;
        for (const SweepAxis& a : sweep->axes) header.push_back(a.name());
        for (const char* h :
             {"eye_height_v", "eye_width_ui", "eye_height_before_sensitivity_v", "model_warnings",
              "error", "adapted_ac_gain", "adapted_dc_gain", "adapted_vga_gain", "dfe_tap_codes",
              "warnings", "best", "ends_corner", "tx_front_end_file"})
            header.push_back(h);
        Table t(header);
        for (std::size_t i = 0; i < sweep->points.size(); ++i) {
            const SweepPoint& p = sweep->points[i];
            std::vector<std::string> row;
            for (const std::string& v : p.values) row.push_back(csvField(v));
            row.push_back(p.ok ? cell(p.eyeHeight) : "");
            row.push_back(p.ok ? cell(p.eyeWidth) : "");
            row.push_back(p.ok ? cell(p.rawEyeHeight) : "");
            row.push_back(p.ok ? std::to_string(p.modelWarnings) : "");
            row.push_back(csvField(p.ran ? p.error : "not run"));
            row.push_back(p.adapted ? std::to_string(p.adapted->ac) : "");
            row.push_back(p.adapted ? std::to_string(p.adapted->dc) : "");
            row.push_back(p.adapted ? std::to_string(p.adapted->vga) : "");
            std::string codes;
            for (const DfeTap& tap : p.dfeTaps)
                codes += (codes.empty() ? "" : " ") + std::to_string(tap.code);
            row.push_back(csvField(codes));
            std::string warnings;
            for (const std::string& w : p.warnings) warnings += (warnings.empty() ? "" : "; ") + w;
            row.push_back(csvField(warnings));
            row.push_back(sweep->best && *sweep->best == i ? "1" : "0");
            row.push_back(csvField(p.endsCorner));
            row.push_back(csvField(p.txFrontEndFile));
            t.row(row);
        }
        save(outfile::kSweepCsv, t);
    }
    return names;
}

}  // namespace amisim
