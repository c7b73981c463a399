#pragma once
// PNG pictures with axes, ticks and units: the pulse response and eye-density diagrams.
#include <string>
#include <vector>

namespace amisim {

struct PlotAxes {
    double x0 = 0, x1 = 1, y0 = 0, y1 = 1;
    std::string xLabel, yLabel, title;
};

struct Curve {
    std::vector<double> x, y;
};

// Line plot of y(x). Throws std::runtime_error when the file cannot be written.
void plotLine(const std::string& path, const std::vector<double>& x, const std::vector<double>& y,
              const PlotAxes& axes);

// Density map: cells[c * rows + r] for column c (x) and row r (y, bottom up), shown on a
// logarithmic colour scale covering `decades` below the largest cell; curves drawn on top.
void plotDensity(const std::string& path, const std::vector<double>& cells, int columns, int rows,
                 const PlotAxes& axes, double decades, const std::vector<Curve>& curves = {});

// Releases the font and drawing caches the pictures filled (they live for the whole process
// otherwise, which leak checkers report); call once, after the last picture.
void releasePlotResources();

// Tick positions: a 1-2-5 step giving about `count` ticks over [a, b].
std::vector<double> niceTicks(double a, double b, int count);

}  // namespace amisim
