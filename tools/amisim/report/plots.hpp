#pragma once
// PNG pictures with axes, ticks and units: line plots with legends and markers, density maps
// with a colour bar, and heat maps of a grid of values.
#include <string>
#include <vector>

namespace amisim {

struct PlotAxes {
    double x0 = 0, x1 = 1, y0 = 0, y1 = 1;
    std::string xLabel, yLabel, title;
    std::string subtitle;  // a second, smaller title line (settings, measured figures)
};

struct Rgb {
    double r = 0.1, g = 0.3, b = 0.8;
};

struct Curve {
    std::vector<double> x, y;  // NaN values break the line
    Rgb colour{0.2, 1.0, 0.4};
    double width = 1.8;  // 0: no line (markers only)
    std::string label;   // shown in the legend when not empty
    bool dashed = false;
    bool markers = false;  // a dot at every point
};

// Line plot of y(x). Throws std::runtime_error when the file cannot be written.
void plotLine(const std::string& path, const std::vector<double>& x, const std::vector<double>& y,
              const PlotAxes& axes);

// Several curves with a legend of their labels; `notes` are short texts at points (x, y).
struct PlotNote {
    double x = 0, y = 0;
    std::string text;
};
void plotCurves(const std::string& path, const std::vector<Curve>& curves, const PlotAxes& axes,
                const std::vector<PlotNote>& notes = {});

// Density map: cells[c * rows + r] for column c (x) and row r (y, bottom up), shown on a
// logarithmic colour scale covering `decades` below the largest cell, with a colour bar. The
// lowest colour of the scale stands well apart from the white background, so that the rarest
// cells shown stay visible; cells below the scale are left as background. Curves are drawn on
// top.
void plotDensity(const std::string& path, const std::vector<double>& cells, int columns, int rows,
                 const PlotAxes& axes, double decades, const std::vector<Curve>& curves = {},
                 const std::string& colourBarLabel = "log10 density (relative to the peak)");

// Heat map of a grid of values: values[c * rows + r], NaN cells left empty. Columns and rows
// are labelled with the given texts; each cell shows its value when the grid is small. The cell
// (markedColumn, markedRow), when inside the grid, is outlined.
void plotHeatMap(const std::string& path, const std::vector<double>& values, int columns, int rows,
                 const std::vector<std::string>& columnLabels,
                 const std::vector<std::string>& rowLabels, const PlotAxes& axes,
                 const std::string& colourBarLabel, int markedColumn = -1, int markedRow = -1);

// Releases the font and drawing caches the pictures filled (they live for the whole process
// otherwise, which leak checkers report); call once, after the last picture.
void releasePlotResources();

// Tick positions: a 1-2-5 step giving about `count` ticks over [a, b].
std::vector<double> niceTicks(double a, double b, int count);

}  // namespace amisim
