#include "amisim/report.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iomanip>

#include "amisim/plots.hpp"

namespace amisim {

namespace {

nlohmann::json modelJson(const ModelRun& m) {
    nlohmann::json j;
    j["library"] = m.library;
    j["ami_file"] = m.amiFile;
    j["root_name"] = m.rootName;
    j["parameters_in"] = m.parametersIn;
    j["message"] = m.message;
    j["parameters_out"] = m.parametersOut;
    if (!m.lastParametersOut.empty()) j["parameters_out_last_getwave"] = m.lastParametersOut;
    j["outputs"] = m.outputs;
    return j;
}

}  // namespace

nlohmann::json makeReport(const LinkConfig& cfg, const LinkResult& res,
                          const std::vector<std::string>& pictures) {
    nlohmann::json j;
    j["tool"] = "amisim";
    j["link"] = {{"bit_rate", cfg.bitRate},
                 {"bit_time", res.bitTime},
                 {"samples_per_bit", cfg.samplesPerBit},
                 {"sample_interval", res.sampleInterval},
                 {"signal_amplitude", cfg.amplitude},
                 {"impulse_samples", res.impulseSamples}};
    j["channel"] = {{"description", res.channelDescription},
                    {"loss_at_nyquist_db", res.channelLossAtNyquistDb}};
    if (cfg.s4pFile.empty()) {
        j["channel"]["type"] = "lossy_line";
        j["channel"]["requested_loss_db"] = cfg.lossDb;
        j["channel"]["skin_fraction"] = cfg.skinFraction;
    } else {
        j["channel"]["type"] = "touchstone";
        j["channel"]["file"] = cfg.s4pFile;
    }
    j["tx"] = modelJson(res.tx);
    j["rx"] = modelJson(res.rx);
    j["warnings"] = res.warnings;
    j["pulse"] = {
        {"main_cursor", res.pulse.mainCursor()},
        {"main_cursor_time", static_cast<double>(res.pulse.mainIndex) * res.sampleInterval}};
    if (res.stat) {
        const StatEyeResult& s = *res.stat;
        j["statistical"] = {{"eye_height", s.eyeHeight},
                            {"eye_height_before_sensitivity", s.rawEyeHeight},
                            {"eye_width", s.eyeWidth},
                            {"best_phase_ui", s.bestPhaseUi},
                            {"ber", cfg.ber},
                            {"rx_sensitivity", res.sensitivity},
                            {"jitter",
                             {{"rj_rms", res.jitter.rjRms},
                              {"dj_pp", res.jitter.djPp},
                              {"dcd_pp", res.jitter.dcdPp}}}};
    }
    if (res.td) {
        const TdEyeResult& t = *res.td;
        j["time_domain"] = {
            {"eye_height", t.eyeHeight},
            {"opening", t.opening},
            {"eye_width", t.eyeWidth},
            {"sampling", t.usedClockTimes ? "rx_clock_times" : "best_phase"},
            {"best_phase_ui", t.bestPhaseUi},
            {"bits", res.tdBits},
            {"ignored_bits", res.tdIgnoreBits},
            {"sampled_bits", t.sampledBits},
            {"bit_errors", t.bitErrors},
            {"clock_times", t.clockTimes},
            {"mean_clock_period", t.meanClockPeriod},
            {"alignment_shift_bits", t.bitShift},
            {"prbs", cfg.prbsOrder},
            {"seconds", res.tdSeconds},
            {"bits_per_second",
             res.tdSeconds > 0 ? static_cast<double>(res.tdBits) / res.tdSeconds : 0.0}};
    }
    j["pictures"] = pictures;
    return j;
}

std::vector<std::string> writePictures(const std::string& outDir, const LinkResult& res) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    {
        const PulseResponse& p = res.pulse;
        std::vector<double> x, y;
        const double ui = res.bitTime;
        const std::size_t spb = static_cast<std::size_t>(p.samplesPerBit);
        // from 4 UI before the main cursor to where the response has died away
        const std::size_t from = p.mainIndex > 4 * spb ? p.mainIndex - 4 * spb : 0;
        std::size_t to = p.samples.size();
        const double peak = std::max(1e-12, std::abs(p.mainCursor()));
        while (to > p.mainIndex + 8 * spb && std::abs(p.samples[to - 1]) < 1e-3 * peak) --to;
        double lo = 0, hi = 0;
        for (std::size_t i = from; i < to; ++i) {
            x.push_back((static_cast<double>(i) - static_cast<double>(p.mainIndex)) *
                        p.sampleInterval / ui);
            y.push_back(p.samples[i] * 1e3);
            lo = std::min(lo, y.back());
            hi = std::max(hi, y.back());
        }
        if (x.size() > 1) {
            PlotAxes a{x.front(),
                       x.back(),
                       lo - 0.05 * (hi - lo + 1e-9),
                       hi + 0.05 * (hi - lo + 1e-9),
                       "time from main cursor (UI)",
                       "pulse response (mV)",
                       "Pulse response at the receiver output"};
            plotLine((fs::path(outDir) / "pulse_response.png").string(), x, y, a);
            names.push_back("pulse_response.png");
        }
    }
    if (res.stat) {
        const StatEyeResult& s = *res.stat;
        const int cols = static_cast<int>(s.phaseUi.size());
        // show the voltage range the eye actually occupies
        double vlo = s.vMax, vhi = s.vMin;
        const double dv = (s.vMax - s.vMin) / (s.voltageBins - 1);
        for (int c = 0; c < cols; ++c)
            for (int r = 0; r < s.voltageBins; ++r)
                if (s.density[static_cast<std::size_t>(c) *
                                  static_cast<std::size_t>(s.voltageBins) +
                              static_cast<std::size_t>(r)] > 1e-16) {
                    vlo = std::min(vlo, s.vMin + r * dv);
                    vhi = std::max(vhi, s.vMin + r * dv);
                }
        if (!(vhi > vlo)) {
            vlo = s.vMin;
            vhi = s.vMax;
        }
        const int r0 = static_cast<int>((vlo - s.vMin) / dv),
                  r1 = static_cast<int>((vhi - s.vMin) / dv) + 1;
        const int rows = std::max(1, std::min(s.voltageBins, r1) - r0);
        std::vector<double> cells(static_cast<std::size_t>(cols) * static_cast<std::size_t>(rows));
        for (int c = 0; c < cols; ++c)
            for (int r = 0; r < rows; ++r)
                cells[static_cast<std::size_t>(c * rows + r)] =
                    s.density[static_cast<std::size_t>(c) *
                                  static_cast<std::size_t>(s.voltageBins) +
                              static_cast<std::size_t>(r + r0)];
        Curve upper, lower;
        const double step = s.phaseUi.size() > 1 ? s.phaseUi[1] - s.phaseUi[0] : 1.0;
        for (std::size_t i = 0; i < s.phaseUi.size(); ++i) {
            if (s.opening[i] <= 0) continue;
            upper.x.push_back(s.phaseUi[i] + step / 2);
            upper.y.push_back(s.opening[i] / 2 * 1e3);
            lower.x.push_back(s.phaseUi[i] + step / 2);
            lower.y.push_back(-s.opening[i] / 2 * 1e3);
        }
        PlotAxes a{-1.0,
                   -1.0 + step * cols,
                   (s.vMin + r0 * dv - dv / 2) * 1e3,
                   (s.vMin + (r0 + rows) * dv - dv / 2) * 1e3,
                   "sampling phase from main cursor (UI)",
                   "voltage (mV)",
                   "Statistical eye (log10 probability, 12 decades; contour at the target BER)"};
        plotDensity((fs::path(outDir) / "eye_statistical.png").string(), cells, cols, rows, a, 12.0,
                    {upper, lower});
        names.push_back("eye_statistical.png");
    }
    if (res.td && res.td->pictureColumns > 0) {
        const TdEyeResult& t = *res.td;
        PlotAxes a{-1.0,
                   1.0,
                   t.vMin * 1e3,
                   t.vMax * 1e3,
                   "time from main cursor (UI)",
                   "voltage (mV)",
                   "Time-domain eye at the receiver output (log10 density)"};
        plotDensity((fs::path(outDir) / "eye_time_domain.png").string(), t.picture,
                    t.pictureColumns, t.pictureRows, a, 4.0);
        names.push_back("eye_time_domain.png");
    }
    return names;
}

void printSummary(std::ostream& os, const LinkConfig& cfg, const LinkResult& res,
                  bool showMessages) {
    os << std::fixed;
    os << "amisim: " << res.tx.rootName << " -> channel -> " << res.rx.rootName << " at "
       << std::setprecision(4) << cfg.bitRate / 1e9 << " Gb/s, " << cfg.samplesPerBit
       << " samples per bit\n";
    os << "  channel: " << res.channelDescription << " (" << std::setprecision(2)
       << res.channelLossAtNyquistDb << " dB at Nyquist)\n";
    for (const std::string& w : res.warnings) os << "  warning: " << w << "\n";
    os << "  pulse main cursor: " << std::setprecision(2) << res.pulse.mainCursor() * 1e3
       << " mV\n";
    os << std::scientific << std::setprecision(3) << "  jitter: Rj " << res.jitter.rjRms
       << " s rms, Dj " << res.jitter.djPp << " s pp, DCD " << res.jitter.dcdPp
       << " s pp; Rx sensitivity " << res.sensitivity << " V\n"
       << std::fixed;
    if (res.stat) {
        os << "  statistical eye at BER " << std::scientific << std::setprecision(1) << cfg.ber
           << std::fixed << ": height " << std::setprecision(2) << res.stat->eyeHeight * 1e3
           << " mV, width " << std::setprecision(3) << res.stat->eyeWidth << " UI\n";
    }
    if (res.td) {
        const TdEyeResult& t = *res.td;
        os << "  time-domain eye (" << res.tdBits << " bits of PRBS" << cfg.prbsOrder << ", first "
           << res.tdIgnoreBits << " ignored, "
           << (t.usedClockTimes ? "sampled at the receiver's clock times"
                                : "sampled at the best phase")
           << "): height " << std::setprecision(2) << t.eyeHeight * 1e3 << " mV, width "
           << std::setprecision(3) << t.eyeWidth << " UI, " << t.bitErrors << " bit errors in "
           << t.sampledBits << " bits\n";
        os << "  time-domain speed: " << std::setprecision(0)
           << (res.tdSeconds > 0 ? static_cast<double>(res.tdBits) / res.tdSeconds : 0.0)
           << " bit/s\n";
    }
    const bool statShut = res.stat && res.stat->eyeHeight <= 0;
    const bool tdShut = res.td && res.td->eyeHeight <= 0;
    if ((statShut || !res.stat) && (tdShut || !res.td))
        os << "  the eye is closed: add equalisation with --tx/--rx overrides or lower the loss\n";
    if (showMessages) {
        for (const ModelRun* m : {&res.tx, &res.rx}) {
            os << "\n== " << m->rootName << " (" << m->library << ")\n-- parameters in:\n"
               << m->parametersIn << "\n-- message:\n"
               << m->message << "\n-- output parameters:\n"
               << m->parametersOut << "\n";
            if (!m->lastParametersOut.empty())
                os << "-- output parameters after the last AMI_GetWave:\n"
                   << m->lastParametersOut << "\n";
        }
    }
}

}  // namespace amisim
