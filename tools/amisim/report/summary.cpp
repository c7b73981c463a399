// The summary a run prints on standard output.
#include <filesystem>
#include <iomanip>

#include "amisim/report/margin_report.hpp"
#include "amisim/report/report.hpp"

namespace amisim {

namespace {
constexpr std::size_t kMaxSweepRows = 50;
}

namespace {

void printSweepTable(std::ostream& os, const SweepResult& sw) {
    os << "  sweep: " << sw.points.size() << " points";
    if (sw.jobs > 0)
        os << " in " << std::setprecision(1) << sw.seconds << " s (" << sw.jobs << " jobs)";
    else
        os << " merged from a plan (" << std::setprecision(1) << sw.seconds << " s of point time)";
    os << ", ranked by " << objectiveName(sw.objective) << "\n";
    os << "   ";
    for (const SweepAxis& a : sw.axes) os << " " << std::setw(18) << a.name();
    os << "   height mV  width UI  adapted AC DC VGA\n";
    // the points' settings may move the analog ends: then each row says which it ran with
    bool endsVary = false;
    for (const SweepPoint& p : sw.points)
        endsVary = endsVary || (p.ran && p.ok &&
                                (p.endsCorner != sw.points.front().endsCorner ||
                                 p.txFrontEndFile != sw.points.front().txFrontEndFile));
    for (std::size_t i = 0; i < sw.points.size() && i < kMaxSweepRows; ++i) {
        const SweepPoint& p = sw.points[i];
        os << "   ";
        for (const std::string& v : p.values) os << " " << std::setw(18) << v;
        if (!p.ran) {
            os << "  not run";
        } else if (p.ok) {
            os << " " << std::setw(11) << std::setprecision(2) << p.eyeHeight * 1e3 << " "
               << std::setw(9) << std::setprecision(3) << p.eyeWidth;
            if (p.adapted)
                os << "  " << std::setw(10) << p.adapted->ac << " " << std::setw(2) << p.adapted->dc
                   << " " << std::setw(3) << p.adapted->vga;
            if (endsVary)
                os << "  ends " << p.endsCorner
                   << (p.txFrontEndFile.empty()
                           ? ""
                           : ", " + std::filesystem::path(p.txFrontEndFile).filename().string());
            if (!p.warnings.empty())
                os << "  (" << p.warnings.size() << " warning"
                   << (p.warnings.size() == 1 ? "" : "s") << ")";
        } else {
            os << "  failed: " << p.error;
        }
        os << (sw.best && *sw.best == i ? "  <- best" : "") << "\n";
    }
    if (sw.points.size() > kMaxSweepRows)
        os << "    ... (" << sw.points.size() - kMaxSweepRows << " more points in sweep.csv)\n";
    if (sw.best) {
        os << "  best sweep point:";
        for (std::size_t a = 0; a < sw.axes.size(); ++a)
            os << " " << sw.axes[a].name() << "=" << sw.points[*sw.best].values[a];
        os << " (the link above is run there)\n";
    } else {
        os << "  no sweep point qualifies as best (each failed, warned or had no open eye): the "
              "link above is run at the base settings\n";
    }
}

void printOptimizePath(std::ostream& os, const OptimizeResult& opt) {
    os << "  optimiser: " << opt.path.size() << " evaluations of the " << opt.gridPoints
       << "-point grid in " << opt.rounds << " round" << (opt.rounds == 1 ? "" : "s") << " ("
       << std::setprecision(1) << opt.seconds << " s, " << opt.jobs << " job"
       << (opt.jobs == 1 ? "" : "s") << "), ranked by " << objectiveName(opt.objective) << "\n";
    os << "     #  round";
    for (const SweepAxis& a : opt.axes) os << " " << std::setw(12) << a.name();
    os << "   height mV  width UI      figure\n";
    for (std::size_t i = 0; i < opt.path.size(); ++i) {
        const OptimizeEvaluation& e = opt.path[i];
        os << "  " << std::setw(4) << i + 1 << " " << std::setw(6) << e.round;
        for (const std::string& v : e.point.values) os << " " << std::setw(12) << v;
        if (e.point.ok)
            os << " " << std::setw(11) << std::setprecision(2) << e.point.eyeHeight * 1e3 << " "
               << std::setw(9) << std::setprecision(3) << e.point.eyeWidth << " " << std::setw(11)
               << std::setprecision(6) << e.figure;
        else
            os << "  failed: " << e.point.error;
        if (e.point.ok && !e.eligible) os << "  (not accepted)";
        os << (opt.best && *opt.best == i ? "  <- best"
               : i == 0                   ? "  (start)"
               : e.visited                ? "  (moved here)"
                                          : "")
           << "\n";
    }
    if (opt.best) {
        os << "  best optimiser point:";
        for (std::size_t a = 0; a < opt.axes.size(); ++a)
            os << " " << opt.axes[a].name() << "=" << opt.path[*opt.best].point.values[a];
        os << " (the link above is run there)\n";
    }
}

}  // namespace

void printSummary(std::ostream& os, const LinkConfig& cfg, const LinkResult& res, bool showMessages,
                  const SweepResult* sweep, const OptimizeResult* optimize) {
    os << std::fixed;
    os << "amisim: " << res.tx.rootName << " -> channel -> " << res.rx.rootName << " at "
       << std::setprecision(4) << cfg.bitRate / 1e9 << " Gb/s, " << cfg.samplesPerBit
       << " samples per bit\n";
    os << "  channel: " << res.channel.description << " (" << std::setprecision(2)
       << res.channel.lossAtNyquistDb << " dB at Nyquist"
       << (res.channel.nyquistCovered ? "" : ", beyond the measured data") << ")\n";
    os << "  ends: " << res.channel.ends.description << "\n";
    if (res.channel.ends.analog) {
        os << "  the ends cost " << std::setprecision(2) << res.channel.ends.costAtNyquistDb
           << " dB at Nyquist";
        if (res.channel.ends.eyeHeightCostV)
            os << " and " << *res.channel.ends.eyeHeightCostV * 1e3
               << " mV of statistical eye height against ideal ends"
               << (res.channel.ends.eyeCostSettings.empty()
                       ? ""
                       : ", " + res.channel.ends.eyeCostSettings);
        os << "\n";
    }
    os << "  pulse main cursor: " << std::setprecision(2) << res.pulse.mainCursor() * 1e3
       << " mV (channel alone: " << res.channelPulse.mainCursor() * 1e3 << " mV)\n";
    os << std::scientific << std::setprecision(3) << "  jitter: Rj " << res.jitter.rjRms
       << " s rms, Dj " << res.jitter.djPp << " s pp, DCD " << res.jitter.dcdPp
       << " s pp; Rx sensitivity " << res.sensitivity << " V\n"
       << std::fixed;
    if (res.adaptedGains)
        os << "  receiver adaptation chose: AC gain " << res.adaptedGains->ac << ", DC gain "
           << res.adaptedGains->dc << ", VGA gain " << res.adaptedGains->vga << "\n";
    if (res.stat) {
        os << "  statistical eye at BER " << std::scientific << std::setprecision(1) << cfg.ber
           << std::fixed << ": height " << std::setprecision(2) << res.stat->eyeHeight * 1e3
           << " mV, width " << std::setprecision(3) << res.stat->eyeWidth << " UI\n";
        os << "    includes " << statisticalIncludes(res) << "\n";
    }
    if (res.td) {
        const TdEyeResult& t = *res.td;
        os << "  time-domain eye (" << res.tdBits << " bits of PRBS" << cfg.prbsOrder << ", first "
           << res.tdIgnoreBits << " ignored, "
           << (t.usedClockTimes ? "sampled half a bit after the receiver's clock times"
                                : "sampled at the best phase")
           << "): height " << std::setprecision(2) << t.eyeHeight * 1e3 << " mV, width "
           << std::setprecision(3) << t.eyeWidth << " UI, " << t.bitErrors
           << (t.bitErrors == 1 ? " bit error in " : " bit errors in ") << t.sampledBits
           << " bits\n";
        os << "    includes " << timeDomainIncludes(res) << "\n";
        os << "  time-domain speed: " << std::setprecision(0)
           << (res.tdSeconds > 0 ? static_cast<double>(res.tdBits) / res.tdSeconds : 0.0)
           << " bit/s\n";
    }
    if (res.mask) {
        os << "  eye mask " << std::setprecision(1) << res.mask->heightV * 1e3 << " mV x "
           << std::setprecision(2) << res.mask->widthUi << " UI:";
        auto one = [&](const char* name, const std::optional<MaskCheck>& c, bool ran) {
            if (!ran) return;
            os << " " << name << " ";
            if (!c) {
                os << "not checked (the eye does not span the mask's width);";
                return;
            }
            os << (c->pass ? "PASS" : "FAIL") << " (margin " << std::setprecision(2)
               << c->marginV * 1e3 << " mV at " << std::showpos << c->worstPhaseUi << std::noshowpos
               << " UI);";
        };
        one("statistical", res.statMask, res.stat.has_value());
        one("time domain", res.tdMask, res.td.has_value());
        os << "\n";
    }
    if (!cfg.waveformFile.empty())
        os << "  waveform: " << cfg.waveformFile << " (" << res.waveformRows << " samples)\n";
    if (res.clock) {
        const ClockRecoveryResult& c = *res.clock;
        os << "  clock recovery: mean period " << std::setprecision(4) << c.meanPeriod * 1e12
           << " ps (" << std::showpos << std::setprecision(1) << c.ppm << std::noshowpos
           << " ppm against the bit time), ";
        const char* source =
            c.lockFromReceiver ? "the receiver's lock detector" : "from the recovered period";
        if (c.lockBit)
            os << "locked after " << *c.lockBit << " bits (" << std::setprecision(2)
               << c.lockTime * 1e9 << " ns, " << source << ")\n";
        else
            os << "never settled (" << source << ")\n";
    }
    if (res.settling)
        os << "  settling: "
           << (res.settling->settled ? "the eye has settled (third and last quarter agree, clock "
                                       "locked before the first measured bit)"
                                     : "NOT settled, see the warning below")
           << "\n";
    if (res.marginWalk) printMarginWalk(os, *res.marginWalk);
    if (!res.dfeTaps.empty()) {
        os << "  DFE taps at the end:";
        for (const DfeTap& t : res.dfeTaps.back().taps)
            os << " tap_" << t.index << " " << t.code << " (" << std::setprecision(2)
               << t.weight * 1e3 << " mV)";
        os << "\n";
    }
    if (sweep) printSweepTable(os, *sweep);
    if (optimize) printOptimizePath(os, *optimize);
    for (const ModelRun* m : {&res.tx, &res.rx})
        if (m->paramsValid == false)
            os << "  " << m->rootName << " reports Params_Valid False: a setting was repaired\n";
    std::vector<std::string> all;
    for (const std::string& w : res.warnings) all.push_back("amisim: " + w);
    for (const std::string& w : modelWarnings(res)) all.push_back(w);
    if (sweep)
        for (const std::string& w : sweep->warnings) all.push_back("amisim: " + w);
    if (optimize)
        for (const std::string& w : optimize->warnings) all.push_back("amisim: " + w);
    if (!all.empty()) {
        os << "  warnings (" << all.size() << "):\n";
        for (const std::string& w : all) os << "    " << w << "\n";
    }
    const bool statShut = res.stat && res.stat->eyeHeight <= 0;
    const bool tdShut = res.td && res.td->eyeHeight <= 0;
    if ((statShut || !res.stat) && (tdShut || !res.td))
        os << "  the eye is closed: add equalisation with --tx/--rx overrides (or --sweep them) "
              "or lower the loss\n";
    if (showMessages) {
        for (const ModelRun* m : {&res.tx, &res.rx}) {
            os << "\n== " << m->rootName << " (" << m->library << ")\n-- parameters in:\n"
               << m->parametersIn << "\n-- message:\n"
               << m->message << "\n-- output parameters:\n"
               << m->parametersOut << "\n";
            if (!m->lastParametersOut.empty())
                os << "-- output parameters after the last AMI_GetWave:\n"
                   << m->lastParametersOut << "\n";
            if (!m->console.empty()) os << "-- printed on standard output:\n" << m->console << "\n";
        }
    }
}

}  // namespace amisim
