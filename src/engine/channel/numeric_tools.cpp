#include "engine/channel/numeric_tools.hpp"

#include <string>

#include "engine/channel/channel_data_error.hpp"

double EvaluatePolynomial(const std::vector<double>& coefficients, double x) {
    // Horner's rule: one rounding per coefficient, and no power that overflows before the
    // small high-order coefficients scale it back.
    double value = 0.0;
    for (auto it = coefficients.rbegin(); it != coefficients.rend(); ++it) value = value * x + *it;
    return value;
}

void EvaluatePolynomial(const std::vector<double>& coefficients, std::vector<double>& xs) {
    for (double& x : xs) x = EvaluatePolynomial(coefficients, x);
}

double InterpolateClamped(const std::vector<double>& xs, const std::vector<double>& ys, double x) {
    if (xs.size() != ys.size()) {
        throw ChannelDataError("InterpolateClamped: " + std::to_string(xs.size()) +
                               " abscissae but " + std::to_string(ys.size()) + " ordinates");
    }
    if (xs.empty()) throw ChannelDataError("InterpolateClamped: the table is empty");
    const std::size_t n = xs.size();
    if (n == 1) return ys[0];
    const bool ascending = xs[n - 1] >= xs[0];
    const double low = ascending ? xs[0] : xs[n - 1];
    const double high = ascending ? xs[n - 1] : xs[0];
    if (x <= low) return ascending ? ys[0] : ys[n - 1];
    if (x >= high) return ascending ? ys[n - 1] : ys[0];
    // Bisection for the interval [i, i+1] that holds x.
    std::size_t lo = 0;
    std::size_t hi = n - 1;
    while (hi - lo > 1) {
        const std::size_t mid = (lo + hi) / 2;
        if ((x >= xs[mid]) == ascending) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    const double width = xs[hi] - xs[lo];
    if (width == 0.0) return ys[lo];
    return ys[lo] + (x - xs[lo]) / width * (ys[hi] - ys[lo]);
}
