#include "rx/dfe_taps.hpp"

#include <cmath>
#include <limits>

int DfeTapRange(std::size_t k) { return kDfeTapRanges[k < kDfeTapCount ? k : kDfeTapCount - 1]; }

double DfeCodeToWeight(int code, double upperLimit, double lowerLimit, double codeSpan,
                       double scale) {
    const double weight = code * ((upperLimit - lowerLimit) / codeSpan * scale);
    return std::isfinite(weight) ? weight : 0.0;
}

int DfeWeightToCode(double weight, double upperLimit, double lowerLimit, double codeSpan,
                    bool oneSided, double scale) {
    if (oneSided && weight < 0) return 0;
    const double step = (upperLimit - lowerLimit) / codeSpan * scale;
    const double code = std::round(weight / step);
    // No step, or a weight no code can hold: there is no meaningful code.
    if (!std::isfinite(code) || std::fabs(code) > std::numeric_limits<int>::max()) return 0;
    return static_cast<int>(code);
}

int DfeWeightToCodeByTable(double weight, const std::vector<double>& row, bool oneSided,
                           double scale) {
    if ((oneSided && weight < 0) || row.empty()) return 0;
    std::size_t best = 0;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (std::size_t j = 0; j < row.size(); ++j) {
        const double distance = std::fabs(scale * row[j] - weight);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = j;
        }
    }
    return static_cast<int>(best) - static_cast<int>(row.size() / 2);
}
