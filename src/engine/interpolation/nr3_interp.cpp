#include "engine/interpolation/nr3_interp.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/interpolation/interpolation_error.hpp"

Base_interp::Base_interp(const double* xs, const double* ys, std::int32_t n, std::int32_t mm)
    : count(n), windowSize(mm), x(xs), y(ys) {
    // The fourth root keeps hunting worthwhile for large tables; capped at one interval.
    hopLimit = std::min<std::int32_t>(1, static_cast<std::int32_t>(std::pow(double(n), 0.25)));
}

std::int32_t Base_interp::locate(double v) {
    if (count < 2 || windowSize < 2 || windowSize > count) {
        RaiseInterpolationError("locate size error", kLocateSizeErrorLine);
    }
    const bool asc = x[count - 1] >= x[0];
    std::int32_t lo = 0;
    std::int32_t hi = count - 1;
    return finishSearch(bisect(v, asc, lo, hi));
}

std::int32_t Base_interp::hunt(double v) {
    if (count < 2 || windowSize < 2 || windowSize > count) {
        RaiseInterpolationError("hunt size error", kHuntSizeErrorLine);
    }
    const bool asc = x[count - 1] >= x[0];
    std::int32_t lo = lastIndex;
    std::int32_t hi = 0;
    std::int64_t step = 1;  // lo + step may pass the 32-bit range on huge tables
    if (lo < 0 || lo > count - 1) {
        lo = 0;
        hi = count - 1;
    } else if ((v >= x[lo]) == asc) {
        for (;;) {
            if (lo + step >= count - 1) {
                hi = count - 1;
                break;
            }
            hi = static_cast<std::int32_t>(lo + step);
            if ((v < x[hi]) == asc) break;
            lo = hi;
            step += step;
        }
    } else {
        hi = lo;
        for (;;) {
            if (lo - step <= 0) {
                lo = 0;
                break;
            }
            lo = static_cast<std::int32_t>(lo - step);
            if ((v >= x[lo]) == asc) break;
            hi = lo;
            step += step;
        }
    }
    return finishSearch(bisect(v, asc, lo, hi));
}

std::int32_t Base_interp::bisect(double v, bool asc, std::int32_t lo, std::int32_t hi) const {
    while (hi - lo > 1) {
        const std::int32_t mid = lo + (hi - lo) / 2;  // (hi + lo) / 2 without overflow
        if ((v >= x[mid]) == asc) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    return lo;
}

std::int32_t Base_interp::finishSearch(std::int32_t lo) {
    correlated = std::abs(lo - lastIndex) <= hopLimit ? 1 : 0;
    lastIndex = lo;
    return std::max(0, std::min(count - windowSize, lo - (windowSize - 2) / 2));
}

double Linear_interp::EvaluateWindow(std::int32_t j, double v) {
    if (x[j] == x[j + 1]) return y[j];
    return y[j] + ((v - x[j]) / (x[j + 1] - x[j])) * (y[j + 1] - y[j]);
}

double Poly_interp::EvaluateWindow(std::int32_t j, double v) {
    const double* xa = x + j;
    const double* ya = y + j;
    double c[4];
    double d[4];
    int ns = 0;
    double dif = std::fabs(v - xa[0]);
    for (int i = 0; i < 4; ++i) {
        const double dift = std::fabs(v - xa[i]);
        if (dift < dif) {
            ns = i;
            dif = dift;
        }
        c[i] = ya[i];
        d[i] = ya[i];
    }
    double result = ya[ns--];
    for (int m = 1; m < 4; ++m) {
        for (int i = 0; i < 4 - m; ++i) {
            const double ho = xa[i] - v;
            const double hp = xa[i + m] - v;
            const double w = c[i + 1] - d[i];
            double den = ho - hp;
            if (den == 0.0) RaiseInterpolationError("Poly_interp error", kPolyInterpErrorLine);
            den = w / den;
            d[i] = hp * den;
            c[i] = ho * den;
        }
        errorEstimate = (2 * (ns + 1) < 4 - m) ? c[ns + 1] : d[ns--];
        result += errorEstimate;
    }
    return result;
}

double Rat_interp::EvaluateWindow(std::int32_t j, double v) {
    // Keeps the first comparison of the tableau away from 0/0 when a value is exactly zero.
    constexpr double kTiny = 1.0e-99;
    const double* xa = x + j;
    const double* ya = y + j;
    double c[4];
    double d[4];
    int ns = 0;
    double hh = std::fabs(v - xa[0]);
    for (int i = 0; i < 4; ++i) {
        const double h = std::fabs(v - xa[i]);
        if (h == 0.0) {
            errorEstimate = 0.0;
            return ya[i];
        }
        if (h < hh) {
            ns = i;
            hh = h;
        }
        c[i] = ya[i];
        d[i] = ya[i] + kTiny;
    }
    double result = ya[ns--];
    for (int m = 1; m < 4; ++m) {
        for (int i = 0; i < 4 - m; ++i) {
            const double w = c[i + 1] - d[i];
            const double h = xa[i + m] - v;
            const double t = (xa[i] - v) * d[i] / h;
            double dd = t - c[i + 1];
            if (dd == 0.0) RaiseInterpolationError("Error in routine ratint", kRatintErrorLine);
            dd = w / dd;
            d[i] = c[i + 1] * dd;
            c[i] = t * dd;
        }
        errorEstimate = (2 * (ns + 1) < 4 - m) ? c[ns + 1] : d[ns--];
        result += errorEstimate;
    }
    return result;
}
