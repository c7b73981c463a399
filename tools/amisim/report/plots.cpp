#include "amisim/report/plots.hpp"

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>
#include <stdexcept>

namespace amisim {

namespace {

constexpr int kWidth = 960, kHeight = 640;
constexpr double kLeft = 90, kBottom = 70;
constexpr double kColourBarWidth = 18, kColourBarRoom = 110;

struct Surface {
    cairo_surface_t* surface;
    cairo_t* cr;
    Surface() {
        surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight);
        cr = cairo_create(surface);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                               CAIRO_FONT_WEIGHT_NORMAL);
    }
    ~Surface() {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
    void save(const std::string& path) {
        cairo_surface_flush(surface);
        if (cairo_surface_write_to_png(surface, path.c_str()) != CAIRO_STATUS_SUCCESS)
            throw std::runtime_error("cannot write the picture '" + path + "'");
    }
};

// The plot rectangle and the mapping of data to it.
struct Frame {
    PlotAxes a;
    double left = kLeft, right, top, bottom;
    Frame(const PlotAxes& axes, bool colourBar) : a(axes) {
        right = kWidth - (colourBar ? kColourBarRoom : 30);
        top = axes.subtitle.empty() ? 50 : 72;
        bottom = kHeight - kBottom;
    }
    double px(double x) const { return left + (x - a.x0) / (a.x1 - a.x0) * (right - left); }
    double py(double y) const { return bottom - (y - a.y0) / (a.y1 - a.y0) * (bottom - top); }
};

std::string tickText(double v, double step) {
    char buf[32];
    const int decimals = std::max(0, static_cast<int>(std::ceil(-std::log10(step) + 1e-9)));
    std::snprintf(buf, sizeof buf, "%.*f", std::min(decimals, 6),
                  std::abs(v) < step * 1e-6 ? 0.0 : v);
    return buf;
}

void text(cairo_t* cr, double x, double y, const std::string& s, double ax, double ay,
          double angle = 0) {
    cairo_text_extents_t e;
    cairo_text_extents(cr, s.c_str(), &e);
    cairo_save(cr);
    cairo_move_to(cr, x, y);
    cairo_rotate(cr, angle);
    cairo_rel_move_to(cr, -e.width * ax - e.x_bearing, e.height * ay);
    cairo_show_text(cr, s.c_str());
    cairo_restore(cr);
}

// Shrinks the font until `s` fits `width` pixels, then writes it centred at x.
void fittedText(cairo_t* cr, double x, double y, const std::string& s, double size, double width) {
    cairo_set_font_size(cr, size);
    cairo_text_extents_t e;
    cairo_text_extents(cr, s.c_str(), &e);
    if (e.width > width) cairo_set_font_size(cr, std::max(7.0, size * width / e.width));
    text(cr, x, y, s, 0.5, 1.0);
}

void drawTitles(cairo_t* cr, const Frame& f) {
    cairo_set_source_rgb(cr, 0, 0, 0);
    fittedText(cr, kWidth / 2.0, 14, f.a.title, 17, kWidth - 20);
    if (!f.a.subtitle.empty()) {
        cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
        fittedText(cr, kWidth / 2.0, 40, f.a.subtitle, 13, kWidth - 20);
    }
}

void drawAxes(cairo_t* cr, const Frame& f, bool xTicks = true, bool yTicks = true) {
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, f.left, f.top, f.right - f.left, f.bottom - f.top);
    cairo_stroke(cr);
    cairo_set_font_size(cr, 13);
    if (xTicks) {
        const auto xt = niceTicks(f.a.x0, f.a.x1, 8);
        const double xs = xt.size() > 1 ? xt[1] - xt[0] : 1;
        for (double t : xt) {
            cairo_move_to(cr, f.px(t), f.bottom);
            cairo_rel_line_to(cr, 0, 6);
            cairo_stroke(cr);
            text(cr, f.px(t), f.bottom + 10, tickText(t, xs), 0.5, 1.0);
        }
    }
    if (yTicks) {
        const auto yt = niceTicks(f.a.y0, f.a.y1, 8);
        const double ys = yt.size() > 1 ? yt[1] - yt[0] : 1;
        for (double t : yt) {
            cairo_move_to(cr, f.left, f.py(t));
            cairo_rel_line_to(cr, -6, 0);
            cairo_stroke(cr);
            text(cr, f.left - 10, f.py(t), tickText(t, ys), 1.0, 0.5);
        }
    }
    cairo_set_font_size(cr, 15);
    text(cr, (f.left + f.right) / 2, kHeight - 28, f.a.xLabel, 0.5, 1.0);
    text(cr, 22, (f.top + f.bottom) / 2, f.a.yLabel, 0.5, 0.5, -std::numbers::pi / 2);
    drawTitles(cr, f);
}

void clipToPlot(cairo_t* cr, const Frame& f) {
    cairo_rectangle(cr, f.left, f.top, f.right - f.left, f.bottom - f.top);
    cairo_clip(cr);
}

// Dark blue -> purple -> orange -> pale yellow; t = 0 is the faintest density shown, well apart
// from the white background.
Rgb colourAt(double t) {
    static const double stops[][3] = {{0.10, 0.15, 0.60},
                                      {0.45, 0.10, 0.55},
                                      {0.85, 0.30, 0.30},
                                      {0.98, 0.65, 0.15},
                                      {0.99, 0.95, 0.45}};
    t = std::clamp(t, 0.0, 1.0) * 4;
    const int i = std::min(3, static_cast<int>(t));
    const double f = t - i;
    return Rgb{stops[i][0] + f * (stops[i + 1][0] - stops[i][0]),
               stops[i][1] + f * (stops[i + 1][1] - stops[i][1]),
               stops[i][2] + f * (stops[i + 1][2] - stops[i][2])};
}

void setColour(cairo_t* cr, const Rgb& c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }

// Vertical colour bar right of the plot: `lo` at the bottom, `hi` at the top.
void drawColourBar(cairo_t* cr, const Frame& f, double lo, double hi, const std::string& label) {
    const double x = f.right + 16;
    const int steps = 200;
    const double h = (f.bottom - f.top) / steps;
    for (int i = 0; i < steps; ++i) {
        setColour(cr, colourAt((i + 0.5) / steps));
        cairo_rectangle(cr, x, f.bottom - (i + 1) * h, kColourBarWidth, h + 0.5);
        cairo_fill(cr);
    }
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, x, f.top, kColourBarWidth, f.bottom - f.top);
    cairo_stroke(cr);
    cairo_set_font_size(cr, 12);
    if (hi > lo) {
        const auto ticks = niceTicks(lo, hi, 6);
        const double step = ticks.size() > 1 ? ticks[1] - ticks[0] : 1;
        for (double t : ticks) {
            const double y = f.bottom - (t - lo) / (hi - lo) * (f.bottom - f.top);
            cairo_move_to(cr, x + kColourBarWidth, y);
            cairo_rel_line_to(cr, 4, 0);
            cairo_stroke(cr);
            text(cr, x + kColourBarWidth + 6, y, tickText(t, step), 0.0, 0.5);
        }
    }
    cairo_set_font_size(cr, 12);
    text(cr, kWidth - 12, (f.top + f.bottom) / 2, label, 0.5, 0.5, -std::numbers::pi / 2);
}

void strokeCurve(cairo_t* cr, const Frame& f, const Curve& cv) {
    setColour(cr, cv.colour);
    cairo_set_line_width(cr, std::max(cv.width, 0.1));
    if (cv.dashed) {
        const double dash[] = {7.0, 4.0};
        cairo_set_dash(cr, dash, 2, 0);
    }
    bool open = false;
    const std::size_t n = std::min(cv.x.size(), cv.y.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::isfinite(cv.x[i]) || !std::isfinite(cv.y[i])) {
            open = false;
            continue;
        }
        if (!open)
            cairo_move_to(cr, f.px(cv.x[i]), f.py(cv.y[i]));
        else
            cairo_line_to(cr, f.px(cv.x[i]), f.py(cv.y[i]));
        open = true;
    }
    if (cv.width > 0)
        cairo_stroke(cr);
    else
        cairo_new_path(cr);  // markers only
    cairo_set_dash(cr, nullptr, 0, 0);
    if (cv.markers)
        for (std::size_t i = 0; i < n; ++i) {
            if (!std::isfinite(cv.x[i]) || !std::isfinite(cv.y[i])) continue;
            cairo_arc(cr, f.px(cv.x[i]), f.py(cv.y[i]), 3.5, 0, 2 * std::numbers::pi);
            cairo_fill(cr);
        }
}

void drawLegend(cairo_t* cr, const Frame& f, const std::vector<Curve>& curves) {
    std::vector<const Curve*> shown;
    for (const Curve& c : curves)
        if (!c.label.empty()) shown.push_back(&c);
    if (shown.empty()) return;
    cairo_set_font_size(cr, 12);
    double w = 0;
    for (const Curve* c : shown) {
        cairo_text_extents_t e;
        cairo_text_extents(cr, c->label.c_str(), &e);
        w = std::max(w, e.width);
    }
    const double boxW = w + 48, lineH = 18, boxH = lineH * static_cast<double>(shown.size()) + 8;
    // the corner where the box hides the fewest points of the curves
    double x = f.right - boxW - 8, y = f.top + 8;
    std::size_t fewest = static_cast<std::size_t>(-1);
    for (const auto& [cx, cy] :
         {std::pair{f.right - boxW - 8, f.top + 8}, std::pair{f.left + 8, f.top + 8},
          std::pair{f.right - boxW - 8, f.bottom - boxH - 8},
          std::pair{f.left + 8, f.bottom - boxH - 8}}) {
        std::size_t hidden = 0;
        for (const Curve& c : curves)
            for (std::size_t i = 0; i < std::min(c.x.size(), c.y.size()); ++i) {
                const double px = f.px(c.x[i]), py = f.py(c.y[i]);
                if (px >= cx && px <= cx + boxW && py >= cy && py <= cy + boxH) ++hidden;
            }
        if (hidden < fewest) {
            fewest = hidden;
            x = cx;
            y = cy;
        }
    }
    cairo_set_source_rgba(cr, 1, 1, 1, 0.85);
    cairo_rectangle(cr, x, y, boxW, boxH);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.6, 0.6, 0.6);
    cairo_set_line_width(cr, 0.8);
    cairo_stroke(cr);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const double yy = y + 4 + lineH * (static_cast<double>(i) + 0.5);
        Curve sample = *shown[i];
        setColour(cr, sample.colour);
        cairo_set_line_width(cr, sample.width);
        if (sample.dashed) {
            const double dash[] = {7.0, 4.0};
            cairo_set_dash(cr, dash, 2, 0);
        }
        if (sample.width > 0) {
            cairo_move_to(cr, x + 6, yy);
            cairo_line_to(cr, x + 34, yy);
            cairo_stroke(cr);
        }
        if (sample.markers) {
            cairo_arc(cr, x + 20, yy, 3.5, 0, 2 * std::numbers::pi);
            cairo_fill(cr);
        }
        cairo_set_dash(cr, nullptr, 0, 0);
        cairo_set_source_rgb(cr, 0, 0, 0);
        text(cr, x + 40, yy, shown[i]->label, 0.0, 0.5);
    }
}

void checkAxes(const PlotAxes& a) {
    if (!(a.x1 > a.x0) || !(a.y1 > a.y0)) throw std::invalid_argument("empty plot range");
}

}  // namespace

void releasePlotResources() {
    cairo_debug_reset_static_data();
    FcFini();
}

std::vector<double> niceTicks(double a, double b, int count) {
    std::vector<double> t;
    if (!(b > a) || count < 1) return t;
    const double raw = (b - a) / count;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    double step = mag;
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        step = m * mag;
        if (step >= raw) break;
    }
    for (double v = std::ceil(a / step) * step; v <= b + step * 1e-9; v += step) t.push_back(v);
    return t;
}

// Writes each note beside its point where it overlaps no note written before and stays inside
// the plot: to the right or left, above or below, then higher up step by step. Neighbouring
// cursors one UI apart would otherwise print over each other.
void placeNotes(cairo_t* cr, const Frame& f, const std::vector<PlotNote>& notes) {
    struct Box {
        double x0, y0, x1, y1;
        bool overlaps(const Box& o) const {
            return x0 < o.x1 && o.x0 < x1 && y0 < o.y1 && o.y0 < y1;
        }
    };
    std::vector<Box> placed;
    // the marked points themselves stay readable
    for (const PlotNote& n : notes)
        placed.push_back({f.px(n.x) - 4, f.py(n.y) - 4, f.px(n.x) + 4, f.py(n.y) + 4});
    for (const PlotNote& n : notes) {
        cairo_text_extents_t e;
        cairo_text_extents(cr, n.text.c_str(), &e);
        const double w = e.width + 2, h = e.height + 2;
        const double px = f.px(n.x), py = f.py(n.y);
        // left edge and baseline of each candidate place
        std::vector<std::pair<double, double>> spots;
        // left of points before the origin (pre-cursors), right of the others
        const double first = n.x < 0 ? px - 6 - w : px + 6, second = n.x < 0 ? px + 6 : px - 6 - w;
        for (int up = 0; up < 10; ++up) {
            const double lift = up * (h + 2);
            spots.push_back({first, py - 4 - lift});
            spots.push_back({second, py - 4 - lift});
            if (up == 0) {
                spots.push_back({first, py + 4 + h});
                spots.push_back({second, py + 4 + h});
            }
        }
        Box chosen{spots[0].first, spots[0].second - h, spots[0].first + w, spots[0].second};
        for (const auto& [x, y] : spots) {
            const Box b{x, y - h, x + w, y};
            if (b.x0 < f.left || b.x1 > f.right || b.y0 < f.top || b.y1 > f.bottom) continue;
            bool free = true;
            for (const Box& o : placed) free = free && !b.overlaps(o);
            if (free) {
                chosen = b;
                break;
            }
        }
        placed.push_back(chosen);
        text(cr, chosen.x0, chosen.y1, n.text, 0.0, 0.0);
    }
}

void plotCurves(const std::string& path, const std::vector<Curve>& curves, const PlotAxes& axes,
                const std::vector<PlotNote>& notes) {
    checkAxes(axes);
    Surface s;
    Frame f(axes, false);
    cairo_save(s.cr);
    clipToPlot(s.cr, f);
    cairo_set_source_rgb(s.cr, 0.8, 0.8, 0.8);
    cairo_set_line_width(s.cr, 0.8);
    if (axes.y0 < 0 && axes.y1 > 0) {
        cairo_move_to(s.cr, f.left, f.py(0));
        cairo_line_to(s.cr, f.right, f.py(0));
        cairo_stroke(s.cr);
    }
    for (const Curve& c : curves) strokeCurve(s.cr, f, c);
    cairo_set_font_size(s.cr, 11);
    cairo_set_source_rgb(s.cr, 0.1, 0.1, 0.1);
    placeNotes(s.cr, f, notes);
    cairo_restore(s.cr);
    drawLegend(s.cr, f, curves);
    drawAxes(s.cr, f);
    s.save(path);
}

void plotLine(const std::string& path, const std::vector<double>& x, const std::vector<double>& y,
              const PlotAxes& axes) {
    Curve c;
    c.x = x;
    c.y = y;
    c.colour = Rgb{0.1, 0.3, 0.8};
    c.width = 1.6;
    plotCurves(path, {c}, axes);
}

void plotDensity(const std::string& path, const std::vector<double>& cells, int columns, int rows,
                 const PlotAxes& axes, double decades, const std::vector<Curve>& curves,
                 const std::string& colourBarLabel) {
    checkAxes(axes);
    if (columns < 1 || rows < 1 ||
        cells.size() != static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows))
        throw std::invalid_argument("density grid does not match its size");
    if (!(decades > 0)) decades = 1;
    Surface s;
    Frame f(axes, true);
    double peak = 0;
    for (double v : cells) peak = std::max(peak, v);
    cairo_save(s.cr);
    clipToPlot(s.cr, f);
    const double cw = (f.right - f.left) / static_cast<double>(columns);
    const double ch = (f.bottom - f.top) / static_cast<double>(rows);
    for (int c = 0; c < columns; ++c) {
        for (int r = 0; r < rows; ++r) {
            const double v = cells[static_cast<std::size_t>(c) * static_cast<std::size_t>(rows) +
                                   static_cast<std::size_t>(r)];
            if (!(v > 0) || !(peak > 0)) continue;
            const double t = 1 + std::log10(v / peak) / decades;
            if (t < 0) continue;  // below the scale: left as background
            setColour(s.cr, colourAt(t));
            cairo_rectangle(s.cr, f.left + c * cw, f.bottom - (r + 1) * ch, cw + 0.5, ch + 0.5);
            cairo_fill(s.cr);
        }
    }
    for (const Curve& cv : curves) strokeCurve(s.cr, f, cv);
    cairo_restore(s.cr);
    drawLegend(s.cr, f, curves);
    drawAxes(s.cr, f);
    drawColourBar(s.cr, f, -decades, 0.0, colourBarLabel);
    s.save(path);
}

void plotHeatMap(const std::string& path, const std::vector<double>& values, int columns, int rows,
                 const std::vector<std::string>& columnLabels,
                 const std::vector<std::string>& rowLabels, const PlotAxes& axes,
                 const std::string& colourBarLabel, int markedColumn, int markedRow) {
    if (columns < 1 || rows < 1 ||
        values.size() != static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows))
        throw std::invalid_argument("heat map grid does not match its size");
    PlotAxes a = axes;
    a.x0 = 0;
    a.x1 = columns;
    a.y0 = 0;
    a.y1 = rows;
    Surface s;
    Frame f(a, true);
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (double v : values)
        if (std::isfinite(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    if (!std::isfinite(lo)) lo = hi = 0;
    if (!(hi > lo)) hi = lo + 1;
    const double cw = (f.right - f.left) / columns, ch = (f.bottom - f.top) / rows;
    const bool showValues = columns <= 24 && rows <= 24;
    for (int c = 0; c < columns; ++c)
        for (int r = 0; r < rows; ++r) {
            const double v = values[static_cast<std::size_t>(c * rows + r)];
            const double x = f.left + c * cw, y = f.bottom - (r + 1) * ch;
            if (!std::isfinite(v)) {
                cairo_set_source_rgb(s.cr, 0.85, 0.85, 0.85);
            } else {
                setColour(s.cr, colourAt((v - lo) / (hi - lo)));
            }
            cairo_rectangle(s.cr, x, y, cw + 0.5, ch + 0.5);
            cairo_fill(s.cr);
            if (showValues) {
                char buf[32];
                std::snprintf(buf, sizeof buf, std::isfinite(v) ? "%.3g" : "-", v);
                const double t = std::isfinite(v) ? (v - lo) / (hi - lo) : 1.0;
                cairo_set_source_rgb(s.cr, t > 0.6 ? 0 : 1, t > 0.6 ? 0 : 1, t > 0.6 ? 0 : 1);
                cairo_set_font_size(s.cr, std::clamp(std::min(cw, ch) / 3.5, 7.0, 13.0));
                text(s.cr, x + cw / 2, y + ch / 2, buf, 0.5, 0.5);
            }
        }
    if (markedColumn >= 0 && markedColumn < columns && markedRow >= 0 && markedRow < rows) {
        const double x = f.left + markedColumn * cw, y = f.bottom - (markedRow + 1) * ch;
        const double lw = std::clamp(std::min(cw, ch) / 8, 1.5, 4.0);
        cairo_set_line_width(s.cr, lw);
        cairo_set_source_rgb(s.cr, 0.85, 0.0, 0.55);
        cairo_rectangle(s.cr, x + lw / 2, y + lw / 2, cw - lw, ch - lw);
        cairo_stroke(s.cr);
    }
    cairo_set_source_rgb(s.cr, 0, 0, 0);
    cairo_set_font_size(s.cr, 12);
    const int xEvery = std::max(1, columns / 16), yEvery = std::max(1, rows / 16);
    for (int c = 0; c < columns; c += xEvery)
        if (c < static_cast<int>(columnLabels.size()))
            text(s.cr, f.left + (c + 0.5) * cw, f.bottom + 10, columnLabels[c], 0.5, 1.0);
    for (int r = 0; r < rows; r += yEvery)
        if (r < static_cast<int>(rowLabels.size()))
            text(s.cr, f.left - 8, f.bottom - (r + 0.5) * ch, rowLabels[r], 1.0, 0.5);
    drawAxes(s.cr, f, false, false);
    drawColourBar(s.cr, f, lo, hi, colourBarLabel);
    s.save(path);
}

}  // namespace amisim
