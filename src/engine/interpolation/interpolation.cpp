#include "engine/interpolation/interpolation.hpp"

#include <gsl/gsl_interp.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>

#include "engine/interpolation/interpolation_error.hpp"
#include "engine/interpolation/nr3_interp.hpp"
#include "framework/format.hpp"

namespace {

constexpr const char* kThisFile = "interpolation.cpp";

[[noreturn]] void fail(const std::string& message, int line) {
    RaiseInterpolationError(message, line, kThisFile);
}

using ami::Format;

// The table in ascending order. A descending table is reversed into owned copies (the curve is
// the same), so the routines below and the library only ever see increasing abscissae.
struct AscendingTable {
    const double* x = nullptr;
    const double* y = nullptr;
    std::size_t n = 0;
    std::vector<double> xr;
    std::vector<double> yr;
};

// Linear and spline evaluation divide by interval widths, so equal or out-of-order abscissae would
// give infinities or garbage (and make the library report an error); reject them up front.
AscendingTable ascendingTable(const std::string& method, const std::vector<double>& x,
                              const std::vector<double>& y, std::size_t minPoints) {
    const std::size_t n = x.size();
    if (n < minPoints) {
        fail(Format("%s needs at least %zu table points, got %zu", method.c_str(), minPoints, n),
             __LINE__);
    }
    const bool asc = x[1] > x[0];
    for (std::size_t i = 1; i < n; ++i) {
        const bool ordered = asc ? x[i - 1] < x[i] : x[i - 1] > x[i];
        if (!ordered) {
            fail(Format("%s needs strictly monotonic abscissae; x[%zu] = %g does not follow "
                        "x[%zu] = %g",
                        method.c_str(), i, x[i], i - 1, x[i - 1]),
                 __LINE__);
        }
    }
    AscendingTable table;
    table.n = n;
    if (asc) {
        table.x = x.data();
        table.y = y.data();
    } else {
        table.xr.assign(x.rbegin(), x.rend());
        table.yr.assign(y.rbegin(), y.rend());
        table.x = table.xr.data();
        table.y = table.yr.data();
    }
    return table;
}

void runNr3(Base_interp& interp, const std::vector<double>& xi, std::vector<double>& out) {
    for (std::size_t k = 0; k < xi.size(); ++k) out[k] = interp.Interp(xi[k]);
}

// Last index lo in [lo, hi) with x[lo] <= v (lo itself when v is below x[lo]).
std::size_t bisect(const double* x, double v, std::size_t lo, std::size_t hi) {
    while (hi > lo + 1) {
        const std::size_t mid = (lo + hi) / 2;
        if (x[mid] > v) {
            hi = mid;
        } else {
            lo = mid;
        }
    }
    return lo;
}

// Linear interpolation that remembers the interval of the previous abscissa, so an ordered xi
// costs two comparisons per point.
void runCachedLinear(const AscendingTable& t, const std::vector<double>& xi,
                     std::vector<double>& out) {
    const double* x = t.x;
    const double* y = t.y;
    std::size_t c = 0;
    for (std::size_t k = 0; k < xi.size(); ++k) {
        const double v = xi[k];
        if (x[c] > v) {
            c = bisect(x, v, 0, c);
        } else if (v >= x[c + 1]) {
            c = bisect(x, v, c, t.n - 1);
        }
        out[k] = y[c] + ((v - x[c]) / (x[c + 1] - x[c])) * (y[c + 1] - y[c]);
    }
}

struct GslInterpFree {
    void operator()(gsl_interp* p) const { gsl_interp_free(p); }
};
struct GslAccelFree {
    void operator()(gsl_interp_accel* p) const { gsl_interp_accel_free(p); }
};

// The type's own evaluation routine is called directly: gsl_interp_eval refuses abscissae outside
// the table, while the routine extrapolates with the end interval's formula, which callers rely on.
void runGsl(const std::string& method, const gsl_interp_type* type, const std::vector<double>& x,
            const std::vector<double>& y, const std::vector<double>& xi, std::vector<double>& out) {
    const AscendingTable t = ascendingTable(method, x, y, gsl_interp_type_min_size(type));
    std::unique_ptr<gsl_interp, GslInterpFree> interp(gsl_interp_alloc(type, t.n));
    std::unique_ptr<gsl_interp_accel, GslAccelFree> accel(gsl_interp_accel_alloc());
    if (!interp || !accel)
        fail(Format("%s: out of memory for %zu points", method.c_str(), t.n), __LINE__);
    if (gsl_interp_init(interp.get(), t.x, t.y, t.n) != 0) {
        fail(Format("%s: cannot set up the interpolation of %zu points", method.c_str(), t.n),
             __LINE__);
    }
    for (std::size_t k = 0; k < xi.size(); ++k) {
        double value = 0.0;
        type->eval(interp->state, t.x, t.y, t.n, xi[k], accel.get(), &value);
        out[k] = value;
    }
}

}  // namespace

void Interpolate(std::string method, const std::vector<double>& x, const std::vector<double>& y,
                 const std::vector<double>& xi, std::vector<double>& out) {
    if (&out == &x || &out == &y || &out == &xi) {
        // Resampling a table into one of its own inputs: resizing out would move the input.
        std::vector<double> result;
        Interpolate(std::move(method), x, y, xi, result);
        out = std::move(result);
        return;
    }
    out.resize(xi.size());
    if (x.size() != y.size()) {
        fail(Format("table abscissae and ordinates differ in length (%zu and %zu points)", x.size(),
                    y.size()),
             __LINE__);
    }
    if (x.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        fail(Format("table of %zu points is too large", x.size()), __LINE__);
    }
    if (xi.empty()) return;

    const auto n = static_cast<std::int32_t>(x.size());
    if (method == kInterpNr3Linear) {
        Linear_interp interp(x.data(), y.data(), n);
        runNr3(interp, xi, out);
    } else if (method == kInterpNr3Poly) {
        Poly_interp interp(x.data(), y.data(), n);
        runNr3(interp, xi, out);
    } else if (method == kInterpNr3Rational) {
        Rat_interp interp(x.data(), y.data(), n);
        runNr3(interp, xi, out);
    } else if (method == kInterpLinear) {
        runCachedLinear(ascendingTable(method, x, y, 2), xi, out);
    } else if (method == kInterpLinearOld) {
        runGsl(method, gsl_interp_linear, x, y, xi, out);
    } else if (method == kInterpPolynomial) {
        runGsl(method, gsl_interp_polynomial, x, y, xi, out);
    } else if (method == kInterpCspline) {
        runGsl(method, gsl_interp_cspline, x, y, xi, out);
    } else if (method == kInterpAkima) {
        runGsl(method, gsl_interp_akima, x, y, xi, out);
    }
}

double InterpolateAt(std::string method, const std::vector<double>& x, const std::vector<double>& y,
                     double v) {
    std::vector<double> out;
    Interpolate(std::move(method), x, y, std::vector<double>{v}, out);
    return out[0];
}
