#include "amisim/run/margin_walk.hpp"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

#include "amisim/host/kit_files.hpp"
#include "amisim/run/adapted_settings.hpp"
#include "amisim/run/link_sim.hpp"
#include "amisim/eye/stat_eye.hpp"

namespace amisim {

namespace {

std::string fixed(double v, int precision) {
    std::ostringstream os;
    os.setf(std::ios::fixed);
    os.precision(precision);
    os << v;
    return os.str();
}

// The opening (volts, before the sensitivity) of a statistical eye at a phase from the main
// cursor, between its display phases.
double openingAt(const StatEyeResult& s, double phaseUi) {
    if (s.phaseUi.empty()) return 0;
    if (phaseUi <= s.phaseUi.front()) return s.opening.front();
    if (phaseUi >= s.phaseUi.back()) return s.opening.back();
    const auto it = std::upper_bound(s.phaseUi.begin(), s.phaseUi.end(), phaseUi);
    const std::size_t i = static_cast<std::size_t>(it - s.phaseUi.begin());
    const double t = (phaseUi - s.phaseUi[i - 1]) / (s.phaseUi[i] - s.phaseUi[i - 1]);
    return s.opening[i - 1] + t * (s.opening[i] - s.opening[i - 1]);
}

MarginStep step(std::string key, std::string name, std::string mode, std::string description) {
    MarginStep s;
    s.key = std::move(key);
    s.name = std::move(name);
    s.mode = std::move(mode);
    s.description = std::move(description);
    return s;
}

}  // namespace

std::optional<double> rxSetting(const LinkResult& res, const std::string& dotted) {
    const std::map<std::string, double> in = numericOutputs(res.rx.parametersIn);
    if (auto it = in.find(dotted); it != in.end()) return it->second;
    return std::nullopt;
}

MarginWalk walkMargin(const LinkConfig& cfg, const LinkResult& res) {
    MarginWalk w;
    if (!res.stat || !res.td) return w;
    const double sens2 = 2 * res.sensitivity;
    const double meanPhase = res.td->meanPhaseUi;

    MarginStep reported = step(
        "stat_reported", "statistical eye", "statistical",
        "as reported: the models' jitter, best phase, BER " + [&] {
            std::ostringstream os;
            os << cfg.ber;
            return os.str();
        }());
    reported.eyeHeight = res.stat->eyeHeight;
    reported.phaseUi = res.stat->bestPhaseUi;
    reported.measured = true;
    w.steps.push_back(reported);

    StatEyeOptions so;
    so.ber = cfg.ber;
    so.sensitivity = res.sensitivity;
    const StatEyeResult quiet = computeStatEye(res.pulse, so);
    MarginStep best = step("stat_no_jitter_best_phase", "without jitter", "statistical",
                           "the statistical eye of the same pulse without jitter, at its best "
                           "phase");
    best.eyeHeight = quiet.eyeHeight;
    best.phaseUi = quiet.bestPhaseUi;
    best.measured = true;
    w.steps.push_back(best);

    MarginStep atClock = step("stat_clock_phase", "at the clock's mean phase", "statistical",
                              res.td->usedClockTimes
                                  ? "the same eye read at the receiver's mean sampling phase (" +
                                        fixed(meanPhase, 3) + " UI from the main cursor)"
                                  : "the same eye read at the time-domain eye's sampling phase (" +
                                        fixed(meanPhase, 3) + " UI from the main cursor)");
    atClock.eyeHeight = std::max(0.0, openingAt(quiet, meanPhase) - sens2);
    atClock.phaseUi = meanPhase;
    atClock.measured = true;
    w.steps.push_back(atClock);

    // The time-domain variants: the same bits, ignored bits and seeds as the run; the clock
    // recovery's instants replaced by its mean phase; an adaptive DFE fixed at its final taps.
    LinkConfig v = cfg;
    v.runStat = false;
    v.probeOutputRange = false;
    v.frequencyResponse = false;
    v.marginWalk = false;
    v.bits = res.tdBits;
    v.ignoreBits = res.tdIgnoreBits;
    v.tdSamplingPhaseUi = meanPhase;
    auto set = [&](const std::string& name, const std::string& value) {
        if (rxSetting(res, name)) v.rxOverrides.push_back(ParamOverride{name, value});
    };
    std::string fixedWhat = "DFE off";
    const std::optional<double> dfeMode = rxSetting(res, "dfe.mode");
    if (dfeMode && *dfeMode != 0 && !res.dfeTaps.empty()) {
        set("dfe.mode", "1");
        fixedWhat = "DFE fixed at its final taps (";
        bool first = true;
        for (const DfeTap& t : res.dfeTaps.back().taps) {
            set("tap_" + std::to_string(t.index), std::to_string(t.code));
            fixedWhat += (first ? "" : " ") + std::to_string(t.code);
            first = false;
        }
        fixedWhat += ")";
    } else if (dfeMode && *dfeMode != 0) {
        fixedWhat = "DFE as set (it reported no taps)";
    }
    if (res.td->usedClockTimes) set("cdr_sel", "1");
    // The gains the receiver's adaptation chose in the run, set by hand: with the DFE fixed the
    // adaptation would weigh its candidates differently and could choose others, and the walk
    // must follow one equaliser.
    if (const auto pins = adaptedGainOverrides(res)) {
        for (const ParamOverride& p : *pins) set(p.name, p.value);
    }

    MarginStep curves = step(
        "td_amplitude_curves", "amplitude curves and waveform DFE", "time domain",
        "time domain without jitter, " + fixedWhat + ", sampled at " + fixed(meanPhase, 3) + " UI");
    MarginStep jitter = step("td_jitter", "with the models' jitter", "time domain",
                             "the same with the models' jitter on the edges and the sampling "
                             "instants");
    // A variant that fails leaves its step unmeasured, with the reason; the run stands.
    auto runVariant = [&](bool withJitter, MarginStep& st) -> std::optional<LinkResult> {
        v.tdJitter = withJitter;
        try {
            LinkResult r = runLink(v);
            st.eyeHeight = r.td->eyeHeight;
            st.measured = true;
            return r;
        } catch (const std::exception& e) {
            st.note = std::string("could not be run: ") + e.what();
            return std::nullopt;
        }
    };
    curves.phaseUi = meanPhase;
    const std::optional<LinkResult> noJitter = runVariant(false, curves);
    if (noJitter && res.adaptedGains && noJitter->adaptedGains &&
        (res.adaptedGains->ac != noJitter->adaptedGains->ac ||
         res.adaptedGains->dc != noJitter->adaptedGains->dc ||
         res.adaptedGains->vga != noJitter->adaptedGains->vga))
        w.notes.push_back(
            "the receiver's adaptation chose other gains in the time-domain variants than in "
            "the run: their steps include that difference");
    if (cfg.tdJitter) {
        runVariant(true, jitter);
    } else {
        jitter.eyeHeight = curves.eyeHeight;
        jitter.note = "the run has no time-domain jitter (--no-td-jitter)";
    }
    jitter.phaseUi = meanPhase;
    w.steps.push_back(curves);
    w.steps.push_back(jitter);

    MarginStep measured =
        step("td_measured", "time-domain eye as measured", "time domain",
             res.td->usedClockTimes
                 ? "the run itself: the receiver's clock times, its adaptation as it ran"
                 : "the run itself, at its best phase");
    measured.eyeHeight = res.td->eyeHeight;
    measured.phaseUi = meanPhase;
    measured.measured = true;
    w.steps.push_back(measured);
    w.notes.push_back("statistical steps are at BER " +
                      [&] {
                          std::ostringstream os;
                          os << cfg.ber;
                          return os.str();
                      }() +
                      "; time-domain steps are the worst of the " +
                      std::to_string(res.td->sampledBits) + " measured bits");
    return w;
}

}  // namespace amisim
