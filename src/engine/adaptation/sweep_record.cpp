#include "engine/adaptation/sweep_record.hpp"

#include <cmath>
#include <limits>

int TruncateSetting(double value) {
    if (!std::isfinite(value) || std::abs(value) >= std::numeric_limits<int>::max()) return 0;
    return static_cast<int>(std::trunc(value));
}

BestChoice ChooseBest(const std::string& figureOfMerit, const SweepRecord& record) {
    // Figure of a row, oriented so that larger is better, and the value a row must exceed.
    double (*figure)(const SweepRow&) = [](const SweepRow& r) { return (1.0 - r.dj) * r.vheight; };
    double best = 0.0;
    if (figureOfMerit == kFigureWidth) {
        figure = [](const SweepRow& r) { return -r.dj; };
        best = -1.0;
    } else if (figureOfMerit == kFigureHeight) {
        figure = [](const SweepRow& r) { return r.vheight; };
    }
    BestChoice choice;
    for (std::size_t i = 0; i < record.rows.size(); ++i) {
        const double value = figure(record.rows[i]);
        if (value > best) {
            best = value;
            choice.row = i;
            choice.qualified = true;
        }
    }
    if (choice.qualified) {
        choice.dc = TruncateSetting(record.rows[choice.row].dc);
        choice.bst = TruncateSetting(record.rows[choice.row].bst);
    }
    return choice;
}
