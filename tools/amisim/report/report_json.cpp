// report.json: everything a run found, for scripts and for the HTML page.
#include <cmath>
#include <ctime>

#include "amisim/eye/cursors.hpp"
#include "amisim/report/margin_report.hpp"
#include "amisim/report/report.hpp"

namespace amisim {

namespace {

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &utc);
    return buf;
}

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
    j["console"] = m.console;
    j["warnings"] = m.warnings;
    if (m.paramsValid) j["params_valid"] = *m.paramsValid;
    return j;
}

nlohmann::json optimizeJson(const OptimizeResult& opt) {
    nlohmann::json axes = nlohmann::json::array();
    for (const SweepAxis& a : opt.axes) axes.push_back({{"name", a.name()}, {"values", a.values}});
    nlohmann::json start = nlohmann::json::object();
    for (std::size_t a = 0; a < opt.axes.size() && a < opt.start.size(); ++a)
        start[opt.axes[a].name()] = opt.start[a];
    nlohmann::json path = nlohmann::json::array();
    for (const OptimizeEvaluation& e : opt.path) {
        nlohmann::json j = sweepPointToJson(e.point, opt.axes);
        j["figure"] = e.figure;
        j["accepted"] = e.eligible;
        j["visited"] = e.visited;
        j["round"] = e.round;
        path.push_back(j);
    }
    nlohmann::json j{{"axes", axes},
                     {"start", start},
                     {"method",
                      "coordinate search: each setting in turn steps +-1 code while the figure "
                      "improves; rounds repeat until none moves"},
                     {"objective", objectiveName(opt.objective)},
                     {"evaluations", opt.path.size()},
                     {"grid_points", opt.gridPoints},
                     {"rounds", opt.rounds},
                     {"jobs", opt.jobs},
                     {"seconds", opt.seconds},
                     {"warnings", opt.warnings},
                     {"path", path}};
    j["best_index"] = opt.best ? nlohmann::json(*opt.best) : nlohmann::json();
    return j;
}

nlohmann::json cursorsJson(const PulseResponse& p) {
    nlohmann::json list = nlohmann::json::array();
    for (const Cursor& c : pulseCursors(p))
        list.push_back({{"index", c.index}, {"volts", c.volts}});
    return list;
}

nlohmann::json channelJson(const LinkConfig& cfg, const ChannelInfo& c) {
    nlohmann::json j{{"type", c.type},
                     {"description", c.description},
                     {"loss_at_nyquist_db", c.lossAtNyquistDb},
                     {"nyquist_covered", c.nyquistCovered}};
    if (c.type == "lossy_line") {
        j["requested_loss_db"] = cfg.lossDb;
        j["skin_fraction"] = cfg.skinFraction;
    } else {
        j["file"] = cfg.s4pFile;
    }
    if (c.ports) {
        j["ports"] = portOrderName(*c.ports);
        j["ports_detected"] = c.portsDetected;
    }
    if (c.detection) {
        j["port_detection"] = {
            {"low_frequency_through_magnitude",
             {{"1-2/3-4", c.detection->throughPairs12_34},
              {"1-3/2-4", c.detection->throughPairs13_24}}},
            {"meaning",
             "mean |S| of each numbering's two through paths (1-2/3-4: 1->3 and 2->4; "
             "1-3/2-4: 1->2 and 3->4) up to up_to_hz; a line passes nearly all, so the larger "
             "tells the numbering"},
            {"up_to_hz", c.detection->upToHz},
            {"detected", c.detection->detected
                             ? nlohmann::json(portOrderName(*c.detection->detected))
                             : nlohmann::json()},
            {"reason", c.detection->reason}};
    }
    j["ends"] = {{"analog", c.ends.analog},
                 {"description", c.ends.description},
                 {"cost_at_nyquist_db", c.ends.costAtNyquistDb}};
    if (c.ends.analog) j["ends"]["corner"] = c.ends.corner;
    if (!c.ends.txFrontEndFile.empty()) j["ends"]["tx_front_end_file"] = c.ends.txFrontEndFile;
    if (c.ends.eyeHeightCostV) {
        j["ends"]["eye_height_cost"] = *c.ends.eyeHeightCostV;
        j["ends"]["eye_height_cost_settings"] = c.ends.eyeCostSettings;
    }
    if (c.check) {
        j["checks"] = {{"first_hz", c.check->firstHz},
                       {"last_hz", c.check->lastHz},
                       {"max_gain", c.check->maxGain},
                       {"max_gain_at_hz", c.check->maxGainAtHz},
                       {"non_causal_energy", c.check->nonCausalEnergy},
                       {"low_frequency_loss_db", c.check->lowFrequencyLossDb},
                       {"warnings", c.check->warnings}};
    }
    return j;
}

nlohmann::json sweepJson(const SweepResult& sw) {
    nlohmann::json axes = nlohmann::json::array();
    for (const SweepAxis& a : sw.axes) axes.push_back({{"name", a.name()}, {"values", a.values}});
    nlohmann::json points = nlohmann::json::array();
    for (const SweepPoint& p : sw.points) {
        nlohmann::json j = sweepPointToJson(p, sw.axes);
        if (!p.ran) j["error"] = "not run";
        points.push_back(j);
    }
    nlohmann::json j{{"axes", axes},
                     {"order", "grid order: the first axis changes slowest"},
                     {"objective", objectiveName(sw.objective)},
                     {"jobs", sw.jobs},
                     {"seconds", sw.seconds},
                     {"warnings", sw.warnings},
                     {"points", points}};
    j["best_index"] = sw.best ? nlohmann::json(*sw.best) : nlohmann::json();
    return j;
}

}  // namespace

nlohmann::json makeReport(const LinkConfig& cfg, const LinkResult& res, const RunInfo& info,
                          const std::vector<std::string>& pictures,
                          const std::vector<std::string>& csvFiles) {
    nlohmann::json j;
    j["tool"] = "amisim";
    j["version"] = info.version;
    j["command_line"] = info.commandLine;
    j["date"] = utcNow();
    j["jitter_budget"] = {{"rj_rms", res.jitter.rjRms},
                          {"dj_pp", res.jitter.djPp},
                          {"dcd_pp", res.jitter.dcdPp},
                          {"rx_sensitivity", res.sensitivity}};
    j["link"] = {{"bit_rate", cfg.bitRate},
                 {"bit_time", res.bitTime},
                 {"samples_per_bit", cfg.samplesPerBit},
                 {"sample_interval", res.sampleInterval},
                 {"signal_amplitude", cfg.amplitude},
                 {"impulse_samples", res.impulseSamples}};
    j["channel"] = channelJson(cfg, res.channel);
    j["tx"] = modelJson(res.tx);
    j["rx"] = modelJson(res.rx);
    if (res.adaptedGains)
        j["rx"]["adapted_gains"] = {{"ac_gain", res.adaptedGains->ac},
                                    {"dc_gain", res.adaptedGains->dc},
                                    {"vga_gain", res.adaptedGains->vga}};
    std::vector<std::string> all = res.warnings;
    for (const std::string& w : modelWarnings(res)) all.push_back(w);
    if (info.sweep)
        for (const std::string& w : info.sweep->warnings) all.push_back(w);
    if (info.optimize)
        for (const std::string& w : info.optimize->warnings) all.push_back(w);
    j["warnings"] = all;
    j["amisim_warnings"] = res.warnings;
    j["model_warnings"] = {{"tx", res.tx.warnings}, {"rx", res.rx.warnings}};
    j["pulse"] = {
        {"main_cursor", res.pulse.mainCursor()},
        {"main_cursor_time", static_cast<double>(res.pulse.mainIndex) * res.sampleInterval},
        {"cursors", cursorsJson(res.pulse)}};
    j["channel_pulse"] = {{"main_cursor", res.channelPulse.mainCursor()},
                          {"cursors", cursorsJson(res.channelPulse)}};
    if (res.frequency)
        j["frequency_response"] = {{"hz", res.frequency->hz},
                                   {"channel_db", res.frequency->channelDb},
                                   {"tx_db", res.frequency->txDb},
                                   {"rx_db", res.frequency->rxDb},
                                   {"link_db", res.frequency->linkDb}};
    if (res.stat) {
        const StatEyeResult& s = *res.stat;
        nlohmann::json contours = nlohmann::json::array();
        for (const BerContour& c : s.contours) {
            std::vector<double> inner;
            for (double v : c.inner) inner.push_back(v > 0 ? v : std::nan(""));
            contours.push_back({{"ber", c.ber}, {"inner_v", inner}});
        }
        j["statistical"] = {
            {"eye_height", s.eyeHeight},
            {"eye_height_before_sensitivity", s.rawEyeHeight},
            {"eye_width", s.eyeWidth},
            {"best_phase_ui", s.bestPhaseUi},
            {"ber", cfg.ber},
            {"rx_sensitivity", res.sensitivity},
            {"includes", statisticalIncludes(res)},
            {"jitter",
             {{"rj_rms", res.jitter.rjRms},
              {"dj_pp", res.jitter.djPp},
              {"dcd_pp", res.jitter.dcdPp},
              {"cut_at_ui", s.jitterCut ? nlohmann::json(kMaxJitterSpanUi) : nlohmann::json()}}},
            {"bathtub", {{"phase_ui", s.phaseUi}, {"ber", s.bathtub}}},
            {"contours",
             {{"phase_ui", s.phaseUi},
              {"note",
               "inner boundary of the 1 level per phase; the 0 level "
               "mirrors it; null where the eye is closed"},
              {"levels", contours}}}};
    }
    if (res.td) {
        const TdEyeResult& t = *res.td;
        nlohmann::json td{
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
            {"signal_level", t.signalLevel},
            {"peak_abs", t.peakAbs},
            {"prbs", cfg.prbsOrder},
            {"includes", timeDomainIncludes(res)},
            {"jitter",
             {{"tx_rj", res.tdTxJitter.rjRms},
              {"tx_dj", res.tdTxJitter.dj},
              {"tx_dcd", res.tdTxJitter.dcd},
              {"rx_rj", res.tdRxJitter.rjRms},
              {"rx_dcd", res.tdRxJitter.dcd},
              {"seed", cfg.seed}}},
            {"bathtub",
             {{"phase_ui", t.phaseUi},
              {"ber_counted", t.berCounted},
              {"ber_extrapolated", t.berExtrapolated},
              {"opening_v", t.openingByPhase}}},
            {"seconds", res.tdSeconds},
            {"bits_per_second",
             res.tdSeconds > 0 ? static_cast<double>(res.tdBits) / res.tdSeconds : 0.0}};
        td["level_one_min"] = t.levelOneMin;
        td["level_zero_max"] = t.levelZeroMax;
        td["mean_phase_ui"] = t.meanPhaseUi;
        td["picture_traces"] = t.pictureTraces;
        if (res.settling) td["settling"] = settlingJson(*res.settling, t);
        if (res.rxOutputRange)
            td["rx_output_range"] = {{"low", res.rxOutputRange->low},
                                     {"high", res.rxOutputRange->high},
                                     {"reached", res.rxOutputLimited}};
        j["time_domain"] = td;
    }
    if (res.clock) {
        const ClockRecoveryResult& c = *res.clock;
        j["clock_recovery"] = {
            {"clock_times", c.clockTimes},
            {"mean_period", c.meanPeriod},
            {"ppm", c.ppm},
            {"overall_mean_period", c.overallMeanPeriod},
            {"locked", c.lockBit.has_value()},
            {"lock_bit", c.lockBit ? nlohmann::json(*c.lockBit) : nlohmann::json()},
            {"lock_time", c.lockBit ? nlohmann::json(c.lockTime) : nlohmann::json()},
            {"band_ppm", c.bandPpm},
            {"window_bits", c.window},
            {"lock_source", c.lockFromReceiver ? "receiver" : "clock_period"},
            {"lock_rule",
             c.lockFromReceiver
                 ? "the bit at which the receiver's lock detector entered its last locked state "
                   "(its cdr_lock_bit); not locked when it reports -1 at the end"
                 : "first clock time after which the period, averaged over windows of "
                   "window_bits bits and taken as the median of 5 neighbouring windows, stays "
                   "within band_ppm of its mean over the last quarter of the run (band: 4 "
                   "standard deviations of those window means, at least 100 ppm); never settled "
                   "when that happens only within the last quarter or the band exceeds 2000 "
                   "ppm; mean_period and ppm are taken after lock"}};
        if (res.rxClockTimesDropped)
            j["clock_recovery"]["clock_times_dropped"] = *res.rxClockTimesDropped;
    }
    if (res.marginWalk) j["margin_walk"] = marginWalkJson(*res.marginWalk);
    if (!res.dfeTaps.empty()) {
        nlohmann::json finalTaps = nlohmann::json::array();
        for (const DfeTap& t : res.dfeTaps.back().taps)
            finalTaps.push_back({{"tap", t.index}, {"code", t.code}, {"weight", t.weight}});
        nlohmann::json history = nlohmann::json::array();
        for (const DfeTapSnapshot& s : res.dfeTaps) {
            std::vector<double> w;
            for (const DfeTap& t : s.taps) w.push_back(t.weight);
            history.push_back({{"bit", s.bit}, {"weights", w}});
        }
        j["dfe"] = {{"final_taps", finalTaps}, {"history", history}};
    }
    if (res.mask) {
        auto check = [](const std::optional<MaskCheck>& c) {
            if (!c) return nlohmann::json();  // the eye does not cover the mask's width
            return nlohmann::json{
                {"pass", c->pass}, {"margin", c->marginV}, {"worst_phase_ui", c->worstPhaseUi}};
        };
        j["eye_mask"] = {{"height", res.mask->heightV},
                         {"width_ui", res.mask->widthUi},
                         {"statistical", check(res.statMask)},
                         {"time_domain", check(res.tdMask)}};
    }
    if (!cfg.waveformFile.empty())
        j["waveform"] = {{"file", cfg.waveformFile}, {"rows", res.waveformRows}};
    if (info.sweep) j["sweep"] = sweepJson(*info.sweep);
    if (info.optimize) j["optimize"] = optimizeJson(*info.optimize);
    j["pictures"] = pictures;
    j["csv"] = csvFiles;
    return j;
}

}  // namespace amisim
