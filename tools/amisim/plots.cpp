#include "amisim/plots.hpp"

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>
#include <stdexcept>

namespace amisim {

namespace {

constexpr int kWidth = 900, kHeight = 600;
constexpr double kLeft = 90, kRight = 30, kTop = 50, kBottom = 70;

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

struct Frame {
    PlotAxes a;
    double px(double x) const {
        return kLeft + (x - a.x0) / (a.x1 - a.x0) * (kWidth - kLeft - kRight);
    }
    double py(double y) const {
        return kHeight - kBottom - (y - a.y0) / (a.y1 - a.y0) * (kHeight - kTop - kBottom);
    }
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

void drawAxes(cairo_t* cr, const Frame& f) {
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, kLeft, kTop, kWidth - kLeft - kRight, kHeight - kTop - kBottom);
    cairo_stroke(cr);
    cairo_set_font_size(cr, 13);
    const auto xt = niceTicks(f.a.x0, f.a.x1, 8);
    const double xs = xt.size() > 1 ? xt[1] - xt[0] : 1;
    for (double t : xt) {
        cairo_move_to(cr, f.px(t), kHeight - kBottom);
        cairo_rel_line_to(cr, 0, 6);
        cairo_stroke(cr);
        text(cr, f.px(t), kHeight - kBottom + 10, tickText(t, xs), 0.5, 1.0);
    }
    const auto yt = niceTicks(f.a.y0, f.a.y1, 8);
    const double ys = yt.size() > 1 ? yt[1] - yt[0] : 1;
    for (double t : yt) {
        cairo_move_to(cr, kLeft, f.py(t));
        cairo_rel_line_to(cr, -6, 0);
        cairo_stroke(cr);
        text(cr, kLeft - 10, f.py(t), tickText(t, ys), 1.0, 0.5);
    }
    cairo_set_font_size(cr, 15);
    text(cr, (kLeft + kWidth - kRight) / 2, kHeight - 28, f.a.xLabel, 0.5, 1.0);
    text(cr, 22, (kTop + kHeight - kBottom) / 2, f.a.yLabel, 0.5, 0.5, -std::numbers::pi / 2);
    cairo_set_font_size(cr, 17);
    text(cr, kWidth / 2.0, 18, f.a.title, 0.5, 1.0);
}

void clipToPlot(cairo_t* cr) {
    cairo_rectangle(cr, kLeft, kTop, kWidth - kLeft - kRight, kHeight - kTop - kBottom);
    cairo_clip(cr);
}

void colour(double t, double& r, double& g, double& b) {
    // dark blue -> purple -> orange -> pale yellow
    static const double stops[][3] = {{0.05, 0.03, 0.25},
                                      {0.45, 0.10, 0.55},
                                      {0.85, 0.30, 0.30},
                                      {0.98, 0.65, 0.15},
                                      {0.99, 0.98, 0.70}};
    t = std::clamp(t, 0.0, 1.0) * 4;
    const int i = std::min(3, static_cast<int>(t));
    const double f = t - i;
    r = stops[i][0] + f * (stops[i + 1][0] - stops[i][0]);
    g = stops[i][1] + f * (stops[i + 1][1] - stops[i][1]);
    b = stops[i][2] + f * (stops[i + 1][2] - stops[i][2]);
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

void plotLine(const std::string& path, const std::vector<double>& x, const std::vector<double>& y,
              const PlotAxes& axes) {
    checkAxes(axes);
    Surface s;
    Frame f{axes};
    cairo_save(s.cr);
    clipToPlot(s.cr);
    cairo_set_source_rgb(s.cr, 0.8, 0.8, 0.8);
    cairo_set_line_width(s.cr, 0.8);
    if (axes.y0 < 0 && axes.y1 > 0) {
        cairo_move_to(s.cr, kLeft, f.py(0));
        cairo_line_to(s.cr, kWidth - kRight, f.py(0));
        cairo_stroke(s.cr);
    }
    cairo_set_source_rgb(s.cr, 0.1, 0.3, 0.8);
    cairo_set_line_width(s.cr, 1.6);
    for (std::size_t i = 0; i < std::min(x.size(), y.size()); ++i) {
        if (i == 0)
            cairo_move_to(s.cr, f.px(x[i]), f.py(y[i]));
        else
            cairo_line_to(s.cr, f.px(x[i]), f.py(y[i]));
    }
    cairo_stroke(s.cr);
    cairo_restore(s.cr);
    drawAxes(s.cr, f);
    s.save(path);
}

void plotDensity(const std::string& path, const std::vector<double>& cells, int columns, int rows,
                 const PlotAxes& axes, double decades, const std::vector<Curve>& curves) {
    checkAxes(axes);
    if (columns < 1 || rows < 1 ||
        cells.size() != static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows))
        throw std::invalid_argument("density grid does not match its size");
    Surface s;
    Frame f{axes};
    double peak = 0;
    for (double v : cells) peak = std::max(peak, v);
    cairo_save(s.cr);
    clipToPlot(s.cr);
    double r0, g0, b0;
    colour(0, r0, g0, b0);
    cairo_set_source_rgb(s.cr, r0, g0, b0);
    cairo_paint(s.cr);
    const double cw = (kWidth - kLeft - kRight) / static_cast<double>(columns);
    const double ch = (kHeight - kTop - kBottom) / static_cast<double>(rows);
    for (int c = 0; c < columns; ++c) {
        for (int r = 0; r < rows; ++r) {
            const double v = cells[static_cast<std::size_t>(c) * static_cast<std::size_t>(rows) +
                                   static_cast<std::size_t>(r)];
            if (!(v > 0) || !(peak > 0)) continue;
            const double t = 1 + std::log10(v / peak) / decades;
            if (t <= 0) continue;
            double rr, gg, bb;
            colour(t, rr, gg, bb);
            cairo_set_source_rgb(s.cr, rr, gg, bb);
            cairo_rectangle(s.cr, kLeft + c * cw, kHeight - kBottom - (r + 1) * ch, cw + 0.5,
                            ch + 0.5);
            cairo_fill(s.cr);
        }
    }
    cairo_set_source_rgb(s.cr, 0.2, 1.0, 0.4);
    cairo_set_line_width(s.cr, 1.8);
    for (const Curve& cv : curves) {
        for (std::size_t i = 0; i < std::min(cv.x.size(), cv.y.size()); ++i) {
            if (i == 0)
                cairo_move_to(s.cr, f.px(cv.x[i]), f.py(cv.y[i]));
            else
                cairo_line_to(s.cr, f.px(cv.x[i]), f.py(cv.y[i]));
        }
        cairo_stroke(s.cr);
    }
    cairo_restore(s.cr);
    drawAxes(s.cr, f);
    s.save(path);
}

}  // namespace amisim
