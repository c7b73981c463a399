// The run's pictures: pulse responses with their cursors, the channel, the frequency responses,
// the two eyes with the BER contours, the bathtubs, the clock recovery, the DFE taps and the
// sweep.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include "amisim/eye/cursors.hpp"
#include "amisim/report/margin_report.hpp"
#include "amisim/report/output_folder.hpp"
#include "amisim/report/plots.hpp"
#include "amisim/report/report.hpp"

namespace amisim {

namespace {

namespace fs = std::filesystem;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const Rgb kPalette[] = {{0.12, 0.47, 0.71}, {0.84, 0.15, 0.16}, {0.17, 0.63, 0.17},
                        {1.00, 0.50, 0.05}, {0.58, 0.40, 0.74}, {0.55, 0.34, 0.29},
                        {0.89, 0.47, 0.76}, {0.50, 0.50, 0.50}, {0.74, 0.74, 0.13},
                        {0.09, 0.75, 0.81}, {0.00, 0.00, 0.00}};

Rgb paletteAt(std::size_t i) { return kPalette[i % (sizeof kPalette / sizeof kPalette[0])]; }

std::string fmt(const char* pattern, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, pattern, v);
    return buf;
}

std::string berText(double ber) { return fmt("%.0e", ber); }

int decadesFor(double ber) { return std::max(3, static_cast<int>(std::ceil(-std::log10(ber)))); }

struct Range {
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    void add(double v) {
        if (!std::isfinite(v)) return;
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    void pad(double share, double minimum) {
        if (!std::isfinite(lo)) lo = hi = 0;
        const double span = std::max(hi - lo, minimum);
        lo -= share * span;
        hi += share * span;
        if (!(hi > lo)) hi = lo + minimum;
    }
};

// A pulse response from 4 UI before its main cursor to where it has died away, with its
// cursors marked.
void pulsePicture(const std::string& path, const PulseResponse& p, const std::string& title,
                  const std::string& subtitle) {
    const std::size_t spb = static_cast<std::size_t>(p.samplesPerBit);
    const std::size_t from = p.mainIndex > 4 * spb ? p.mainIndex - 4 * spb : 0;
    std::size_t to = p.samples.size();
    const double peak = std::max(1e-12, std::abs(p.mainCursor()));
    while (to > p.mainIndex + 8 * spb && std::abs(p.samples[to - 1]) < 1e-3 * peak) --to;
    Curve line;
    line.colour = Rgb{0.1, 0.3, 0.8};
    line.width = 1.6;
    line.label = "pulse response";
    Range yr;
    for (std::size_t i = from; i < to; ++i) {
        line.x.push_back((static_cast<double>(i) - static_cast<double>(p.mainIndex)) /
                         static_cast<double>(spb));
        line.y.push_back(p.samples[i] * 1e3);
        yr.add(line.y.back());
    }
    if (line.x.size() < 2) return;
    Curve marks;
    marks.colour = Rgb{0.85, 0.2, 0.1};
    marks.width = 0;
    marks.markers = true;
    marks.label = "cursors (1 UI apart)";
    std::vector<PlotNote> notes;
    for (const Cursor& c : pulseCursors(p, 4, 200)) {
        const double x = c.index;
        if (x < line.x.front() || x > line.x.back()) continue;
        marks.x.push_back(x);
        marks.y.push_back(c.volts * 1e3);
        if (c.index >= -1 && c.index <= 3)
            notes.push_back(PlotNote{
                x, c.volts * 1e3,
                (c.index == 0 ? std::string("main ") : "c" + std::to_string(c.index) + " ") +
                    fmt("%.1f mV", c.volts * 1e3)});
    }
    yr.add(0);
    yr.pad(0.08, 1e-6);
    PlotAxes a{line.x.front(), line.x.back(), yr.lo,   yr.hi, "time from the main cursor (UI)",
               "voltage (mV)", title,         subtitle};
    plotCurves(path, {line, marks}, a, notes);
}

void channelImpulsePicture(const std::string& path, const LinkResult& res,
                           const std::string& subtitle) {
    const std::vector<double>& h = res.channelImpulse;
    if (h.size() < 2) return;
    double peak = 0;
    std::size_t peakAt = 0;
    for (std::size_t i = 0; i < h.size(); ++i)
        if (std::abs(h[i]) > peak) {
            peak = std::abs(h[i]);
            peakAt = i;
        }
    std::size_t to = h.size();
    while (to > peakAt + 1 && std::abs(h[to - 1]) < 1e-3 * peak) --to;
    Curve c;
    c.colour = Rgb{0.1, 0.3, 0.8};
    c.width = 1.4;
    Range yr;
    for (std::size_t i = 0; i < to; ++i) {
        c.x.push_back(static_cast<double>(i) * res.sampleInterval * 1e9);
        c.y.push_back(h[i] * 1e-9);  // 1/s -> 1/ns
        yr.add(c.y.back());
    }
    yr.add(0);
    yr.pad(0.05, 1e-9);
    PlotAxes a{0,
               std::max(c.x.back(), 1e-6),
               yr.lo,
               yr.hi,
               "time (ns)",
               "impulse response (1/ns)",
               "Channel impulse response",
               subtitle};
    plotCurves(path, {c}, a);
}

void frequencyPicture(const std::string& path, const LinkResult& res, const std::string& subtitle,
                      double bitRate) {
    if (!res.frequency || res.frequency->hz.empty()) return;
    const LinkFrequencyResponse& f = *res.frequency;
    std::vector<double> ghz;
    for (double hz : f.hz) ghz.push_back(hz / 1e9);
    auto curve = [&](const std::vector<double>& db, Rgb colour, double width, const char* label,
                     bool dashed) {
        Curve c;
        c.x = ghz;
        c.y = db;
        c.colour = colour;
        c.width = width;
        c.label = label;
        c.dashed = dashed;
        return c;
    };
    std::vector<Curve> curves{curve(f.channelDb, {0.45, 0.45, 0.45}, 1.6, "channel SDD21", false),
                              curve(f.txDb, {0.12, 0.47, 0.71}, 1.6, "transmitter", false),
                              curve(f.rxDb, {0.84, 0.15, 0.16}, 1.6, "receiver", false),
                              curve(f.linkDb, {0, 0, 0}, 2.2, "whole link", false)};
    Range yr;
    for (const Curve& c : curves)
        for (double v : c.y) yr.add(std::max(v, -80.0));
    yr.pad(0.05, 1.0);
    for (Curve& c : curves)
        for (double& v : c.y)
            if (v < yr.lo) v = kNaN;
    const double nyq = bitRate / 2 / 1e9;
    Curve nyquist;
    nyquist.x = {nyq, nyq};
    nyquist.y = {yr.lo, yr.hi};
    nyquist.colour = Rgb{0.6, 0.6, 0.6};
    nyquist.width = 1.0;
    nyquist.dashed = true;
    nyquist.label = "Nyquist";
    curves.push_back(nyquist);
    PlotAxes a{0,
               ghz.back(),
               yr.lo,
               yr.hi,
               "frequency (GHz)",
               "magnitude (dB)",
               "Frequency responses of the channel, the models and the whole link",
               subtitle};
    plotCurves(path, curves, a);
}

void statEyePicture(const std::string& path, const LinkConfig& cfg, const LinkResult& res,
                    const std::string& subtitle) {
    const StatEyeResult& s = *res.stat;
    const int cols = static_cast<int>(s.phaseUi.size());
    const int decades = decadesFor(cfg.ber);
    double peak = 0;
    for (double v : s.density) peak = std::max(peak, v);
    const double floor = peak * std::pow(10.0, -decades - 1);
    const double dv = (s.vMax - s.vMin) / (s.voltageBins - 1);
    double vlo = s.vMax, vhi = s.vMin;
    for (int c = 0; c < cols; ++c)
        for (int r = 0; r < s.voltageBins; ++r)
            if (s.density[static_cast<std::size_t>(c) * static_cast<std::size_t>(s.voltageBins) +
                          static_cast<std::size_t>(r)] > floor) {
                vlo = std::min(vlo, s.vMin + r * dv);
                vhi = std::max(vhi, s.vMin + r * dv);
            }
    if (!(vhi > vlo)) {
        vlo = s.vMin;
        vhi = s.vMax;
    }
    const int r0 = std::max(0, static_cast<int>((vlo - s.vMin) / dv) - 4);
    const int r1 = std::min(s.voltageBins, static_cast<int>((vhi - s.vMin) / dv) + 5);
    const int rows = std::max(1, r1 - r0);
    std::vector<double> cells(static_cast<std::size_t>(cols) * static_cast<std::size_t>(rows));
    for (int c = 0; c < cols; ++c)
        for (int r = 0; r < rows; ++r)
            cells[static_cast<std::size_t>(c * rows + r)] =
                s.density[static_cast<std::size_t>(c) * static_cast<std::size_t>(s.voltageBins) +
                          static_cast<std::size_t>(r + r0)];
    const double step = cols > 1 ? s.phaseUi[1] - s.phaseUi[0] : 1.0;
    std::vector<Curve> curves;
    for (std::size_t k = 0; k < s.contours.size(); ++k) {
        const BerContour& bc = s.contours[k];
        const bool target = k + 1 == s.contours.size();
        for (int sign : {1, -1}) {
            Curve cv;
            cv.colour = target ? Rgb{0.1, 0.8, 0.3} : Rgb{0.35, 0.35, 0.35};
            cv.width = target ? 2.2 : 1.0;
            cv.dashed = !target;
            if (sign == 1) cv.label = "BER " + berText(bc.ber) + (target ? " (target)" : "");
            for (std::size_t i = 0; i < s.phaseUi.size(); ++i) {
                cv.x.push_back(s.phaseUi[i] + step / 2);
                cv.y.push_back(bc.inner[i] > 0 ? sign * bc.inner[i] * 1e3 : kNaN);
            }
            curves.push_back(cv);
        }
    }
    std::string title = "Statistical eye: height " + fmt("%.1f mV", s.eyeHeight * 1e3) +
                        ", width " + fmt("%.3f UI", s.eyeWidth) + " at BER " + berText(cfg.ber);
    PlotAxes a{-1.0,
               -1.0 + step * cols,
               (s.vMin + r0 * dv - dv / 2) * 1e3,
               (s.vMin + (r0 + rows) * dv - dv / 2) * 1e3,
               "sampling phase from the main cursor (UI)",
               "voltage (mV)",
               title,
               subtitle};
    plotDensity(path, cells, cols, rows, a, decades, curves,
                "log10 probability, " + std::to_string(decades) + " decades below the peak");
}

void tdEyePicture(const std::string& path, const LinkResult& res, const std::string& subtitle) {
    const TdEyeResult& t = *res.td;
    std::string title =
        "Time-domain eye: height " + fmt("%.1f mV", t.eyeHeight * 1e3) + ", width " +
        fmt("%.3f UI", t.eyeWidth) + ", " + std::to_string(t.bitErrors) +
        (t.bitErrors == 1 ? " error in " : " errors in ") + std::to_string(t.sampledBits) + " bits";
    PlotAxes a{-1.0,
               1.0,
               t.vMin * 1e3,
               t.vMax * 1e3,
               t.usedClockTimes
                   ? "time from the sampling instant (UI): the receiver's clock time + 0.5 UI"
                   : "time from the sampling point (UI): the best phase",
               "voltage (mV)",
               title,
               subtitle};
    Curve centre;
    centre.x = {0, 0};
    centre.y = {a.y0, a.y1};
    centre.colour = Rgb{0.1, 0.8, 0.3};
    centre.width = 1.0;
    centre.dashed = true;
    centre.label = "sampling point";
    // the measured opening at the sampling instant: the lowest "1" and the highest "0", as
    // ticks either side of the centre column, which stays visible (the traces that set the
    // opening may touch it in that column alone)
    Curve opening;
    const double near = 0.012, far = 0.12;
    const double one = t.levelOneMin * 1e3, zero = t.levelZeroMax * 1e3;
    opening.x = {-far, -near, kNaN, near, far, kNaN, -far, -near, kNaN, near, far};
    opening.y = {one, one, kNaN, one, one, kNaN, zero, zero, kNaN, zero, zero};
    opening.colour = Rgb{0.9, 0.1, 0.1};
    opening.width = 2.0;
    opening.label = "measured opening " + fmt("%.1f mV", t.opening * 1e3);
    // the scale reaches a single trace per pixel: the rare traces that bound the eye show
    plotDensity(path, t.picture, t.pictureColumns, t.pictureRows, a, traceScaleDecades(t.picture),
                {centre, opening},
                "log10 traces per pixel, relative to the peak (lowest colour: one trace)");
}

void bathtubPicture(const std::string& path, const LinkConfig& cfg, const LinkResult& res,
                    const std::string& subtitle) {
    const double floorLog = -(decadesFor(cfg.ber) + 3);
    auto logBer = [&](double b) { return b > 0 ? std::max(floorLog, std::log10(b)) : floorLog; };
    std::vector<Curve> curves;
    if (res.stat) {
        Curve c;
        c.colour = Rgb{0.12, 0.47, 0.71};
        c.width = 2.0;
        c.label = "statistical";
        for (std::size_t i = 0; i < res.stat->phaseUi.size(); ++i) {
            c.x.push_back(res.stat->phaseUi[i] - res.stat->bestPhaseUi);
            c.y.push_back(logBer(res.stat->bathtub[i]));
        }
        curves.push_back(c);
    }
    if (res.td) {
        Curve counted, gauss;
        counted.colour = gauss.colour = Rgb{0.84, 0.15, 0.16};
        counted.width = 0;
        counted.markers = true;
        counted.label = "time domain, counted errors";
        gauss.dashed = true;
        gauss.width = 1.6;
        gauss.label = "time domain, extrapolated (Q-scale tail fit)";
        for (std::size_t i = 0; i < res.td->phaseUi.size(); ++i) {
            if (std::abs(res.td->phaseUi[i]) > 1.0) continue;
            gauss.x.push_back(res.td->phaseUi[i]);
            gauss.y.push_back(logBer(res.td->berExtrapolated[i]));
            if (res.td->berCounted[i] > 0) {
                counted.x.push_back(res.td->phaseUi[i]);
                counted.y.push_back(logBer(res.td->berCounted[i]));
            }
        }
        curves.push_back(gauss);
        curves.push_back(counted);
    }
    Curve target;
    target.x = {-1, 1};
    target.y = {std::log10(cfg.ber), std::log10(cfg.ber)};
    target.colour = Rgb{0.1, 0.7, 0.3};
    target.width = 1.0;
    target.dashed = true;
    target.label = "target BER " + berText(cfg.ber);
    curves.push_back(target);
    PlotAxes a{-1.0,
               1.0,
               floorLog,
               0.0,
               "sampling phase from the sampling point (UI)",
               "log10 bit-error ratio",
               "Bathtub curves",
               subtitle};
    plotCurves(path, curves, a);
}

void clockPicture(const std::string& path, const LinkResult& res, const std::string& subtitle) {
    const ClockRecoveryResult& c = *res.clock;
    if (c.windowBit.size() < 2) return;
    Curve period;
    period.colour = Rgb{0.12, 0.47, 0.71};
    period.width = 1.4;
    period.label = "period, mean over " + std::to_string(c.window) + " bits";
    Range yr;
    for (std::size_t i = 0; i < c.windowBit.size(); ++i) {
        period.x.push_back(c.windowBit[i]);
        period.y.push_back((c.windowPeriod[i] - res.bitTime) / res.bitTime * 1e6);
        yr.add(period.y.back());
    }
    yr.add(0);
    yr.pad(0.08, 10);
    std::vector<Curve> curves{period};
    if (c.lockBit) {
        Curve lock;
        lock.x = {static_cast<double>(*c.lockBit), static_cast<double>(*c.lockBit)};
        lock.y = {yr.lo, yr.hi};
        lock.colour = Rgb{0.1, 0.7, 0.3};
        lock.dashed = true;
        lock.width = 1.2;
        lock.label = "lock";
        curves.push_back(lock);
    }
    std::string title =
        "Recovered clock period: mean " + fmt("%.4f ps", c.meanPeriod * 1e12) + " (" +
        fmt("%+.1f ppm", c.ppm) + " from the bit time)" +
        (c.lockBit ? ", locked after " + std::to_string(*c.lockBit) + " bits" : ", not locked");
    PlotAxes a{0,
               std::max(period.x.back(), 1.0),
               yr.lo,
               yr.hi,
               "bits (clock times from the first)",
               "period - bit time (ppm)",
               title,
               subtitle};
    plotCurves(path, curves, a);
}

void dfePicture(const std::string& path, const LinkResult& res, const std::string& subtitle) {
    std::size_t taps = 0;
    for (const DfeTapSnapshot& s : res.dfeTaps) taps = std::max(taps, s.taps.size());
    if (taps == 0) return;
    std::vector<Curve> curves(taps);
    Range yr;
    for (std::size_t k = 0; k < taps; ++k) {
        curves[k].colour = paletteAt(k);
        curves[k].width = 1.6;
        curves[k].markers = res.dfeTaps.size() < 40;
        curves[k].label = "tap " + std::to_string(k + 1);
    }
    for (const DfeTapSnapshot& s : res.dfeTaps)
        for (std::size_t k = 0; k < s.taps.size(); ++k) {
            curves[k].x.push_back(static_cast<double>(s.bit));
            curves[k].y.push_back(s.taps[k].weight * 1e3);
            yr.add(curves[k].y.back());
        }
    yr.add(0);
    yr.pad(0.08, 1e-3);
    const double x1 = static_cast<double>(res.dfeTaps.back().bit);
    const double x0 = res.dfeTaps.size() > 1 ? static_cast<double>(res.dfeTaps.front().bit) : 0.0;
    PlotAxes a{x0,
               std::max(x1, x0 + 1),
               yr.lo,
               yr.hi,
               "bits sent",
               "tap weight (mV)",
               "DFE taps reported by the receiver after each block",
               subtitle};
    plotCurves(path, curves, a);
}

bool allNumbers(const std::vector<std::string>& v, std::vector<double>& out) {
    out.clear();
    for (const std::string& s : v) {
        char* end = nullptr;
        const double d = std::strtod(s.c_str(), &end);
        if (s.empty() || *end != '\0') return false;
        out.push_back(d);
    }
    return true;
}

void sweepPicture(const std::string& path, const SweepResult& sw, const std::string& subtitle) {
    if (sw.axes.empty() || sw.points.empty()) return;
    const std::string title = "Statistical eye height over the sweep";
    if (sw.axes.size() == 1) {
        std::vector<double> x;
        const bool numeric = allNumbers(sw.axes[0].values, x);
        if (!numeric)
            for (std::size_t i = 0; i < sw.axes[0].values.size(); ++i)
                x.push_back(static_cast<double>(i));
        Curve c;
        c.colour = Rgb{0.12, 0.47, 0.71};
        c.markers = true;
        c.width = 1.6;
        Range yr;
        for (std::size_t i = 0; i < sw.points.size(); ++i) {
            c.x.push_back(x[i]);
            c.y.push_back(sw.points[i].ok ? sw.points[i].eyeHeight * 1e3 : kNaN);
            yr.add(c.y.back());
        }
        yr.add(0);
        yr.pad(0.08, 1.0);
        Range xr;
        for (double v : x) xr.add(v);
        xr.pad(0.03, 1.0);
        PlotAxes a{xr.lo, xr.hi,   yr.lo, yr.hi, sw.axes[0].label(), "eye height (mV)",
                   title, subtitle};
        std::vector<PlotNote> notes;
        if (sw.best)
            notes.push_back(PlotNote{c.x[*sw.best], c.y[*sw.best],
                                     std::string("best (by ") + objectiveName(sw.objective) + ")"});
        plotCurves(path, {c}, a, notes);
        return;
    }
    // the first two axes span the map; over any further axes the best height is shown
    const std::size_t cols = sw.axes[0].values.size(), rows = sw.axes[1].values.size();
    std::size_t rest = 1;
    for (std::size_t i = 2; i < sw.axes.size(); ++i) rest *= sw.axes[i].values.size();
    std::vector<double> cells(cols * rows, kNaN);
    for (std::size_t i = 0; i < sw.points.size(); ++i) {
        if (!sw.points[i].ok) continue;
        const std::size_t c = i / (rows * rest), r = (i / rest) % rows;
        double& cell = cells[c * rows + r];
        const double v = sw.points[i].eyeHeight * 1e3;
        if (!std::isfinite(cell) || v > cell) cell = v;
    }
    PlotAxes a;
    a.xLabel = sw.axes[0].label();
    a.yLabel = sw.axes[1].label();
    a.title = title + (sw.axes.size() > 2 ? " (best over the other swept parameters)" : "");
    a.subtitle = subtitle;
    int markC = -1, markR = -1;
    if (sw.best) {
        markC = static_cast<int>(*sw.best / (rows * rest));
        markR = static_cast<int>((*sw.best / rest) % rows);
        a.subtitle += (a.subtitle.empty() ? "" : "; ") +
                      std::string("outlined: the best point (by ") + objectiveName(sw.objective) +
                      ")";
    }
    plotHeatMap(path, cells, static_cast<int>(cols), static_cast<int>(rows), sw.axes[0].values,
                sw.axes[1].values, a, "eye height (mV)", markC, markR);
}

}  // namespace

std::vector<std::string> writePictures(const std::string& outDir, const LinkConfig& cfg,
                                       const LinkResult& res, const SweepResult* sweep) {
    std::vector<std::string> names;
    const std::string sub = linkSubtitle(cfg, res);
    auto add = [&](const char* name, auto&& draw) {
        const std::string path = (fs::path(outDir) / name).string();
        draw(path);
        if (fs::exists(path)) names.push_back(name);
    };
    if (res.stat)
        add(outfile::kEyeStatistical,
            [&](const std::string& p) { statEyePicture(p, cfg, res, sub); });
    if (res.td && res.td->pictureColumns > 0)
        add(outfile::kEyeTimeDomain, [&](const std::string& p) { tdEyePicture(p, res, sub); });
    if (res.stat || res.td)
        add(outfile::kBathtub, [&](const std::string& p) { bathtubPicture(p, cfg, res, sub); });
    add(outfile::kPulseResponse, [&](const std::string& p) {
        pulsePicture(p, res.pulse,
                     "Pulse response at the receiver output: main cursor " +
                         fmt("%.1f mV", res.pulse.mainCursor() * 1e3),
                     sub);
    });
    add(outfile::kChannelPulse, [&](const std::string& p) {
        pulsePicture(p, res.channelPulse,
                     "Pulse response of the channel alone: main cursor " +
                         fmt("%.1f mV", res.channelPulse.mainCursor() * 1e3),
                     sub);
    });
    add(outfile::kChannelImpulse,
        [&](const std::string& p) { channelImpulsePicture(p, res, sub); });
    add(outfile::kFrequencyResponse,
        [&](const std::string& p) { frequencyPicture(p, res, sub, cfg.bitRate); });
    if (res.clock)
        add(outfile::kClockPeriod, [&](const std::string& p) { clockPicture(p, res, sub); });
    if (!res.dfeTaps.empty())
        add(outfile::kDfeTaps, [&](const std::string& p) { dfePicture(p, res, sub); });
    if (sweep)
        add(outfile::kSweepPicture, [&](const std::string& p) { sweepPicture(p, *sweep, sub); });
    if (res.marginWalk && !res.marginWalk->steps.empty())
        add(outfile::kMarginWalkPicture,
            [&](const std::string& p) { marginWalkPicture(p, *res.marginWalk, sub); });
    return names;
}

}  // namespace amisim
