#pragma once
// The table an equaliser sweep fills, one row per candidate, and the choice of the best row.
#include <cstddef>
#include <string>
#include <vector>

// Figures of merit ChooseBest knows; any other name counts as "Area".
inline constexpr const char* kFigureArea = "Area";
inline constexpr const char* kFigureWidth = "Width";
inline constexpr const char* kFigureHeight = "Height";

struct SweepRow {
    double dc = 0;       // "DC": index of the DC-gain setting
    double bst = 0;      // "BST": index of the AC-boost setting
    double dj = 1.0;     // "DJ": eye closure, fraction of a unit interval
    double vheight = 0;  // "Vheight": vertical eye opening, volts
    double vga = -1;     // VGA index chosen for the candidate
};

struct SweepRecord {
    std::vector<SweepRow> rows;
};

struct BestChoice {
    int dc = 0;  // settings of the winning row, truncated to integers
    int bst = 0;
    std::size_t row = 0;
    bool qualified = false;  // false: no row beat the starting value; settings and row are 0
};

// Scans the rows in order and keeps the first row that reaches the best value:
//   "Area":   largest (1 - DJ) * Vheight, which must exceed 0;
//   "Width":  smallest DJ, which must be below 1;
//   "Height": largest Vheight, which must exceed 0.
// A row whose figure is not a number never qualifies.
BestChoice ChooseBest(const std::string& figureOfMerit, const SweepRecord& record);

// A setting held as a double, as an integer (truncated); 0 for a value that is not a finite
// number inside the integer range.
int TruncateSetting(double value);
