// Direct-form-II rational filter.
#include "framework/conv_filt.hpp"

#include <new>
#include <string>

#include "framework/ts_exceptions.hpp"

ConvFilt::ConvFilt(std::vector<double> num, std::vector<double> den, std::vector<double> init) {
    if (den.size() != num.size() || init.size() != num.size()) {
        throw EBadInitializers("ConvFilt: length of `num' (" + std::to_string(num.size()) +
                               "), `den' (" + std::to_string(den.size()) + "), and `init' (" +
                               std::to_string(init.size()) + ") must match.");
    }
    // Without these two checks an empty filter would read past its arrays on the first sample
    // and a zero leading coefficient would fill every output with infinities.
    if (num.empty()) throw EBadInitializers("ConvFilt: the coefficient lists must not be empty.");
    if (den[0] == 0.0) {
        throw EBadInitializers("ConvFilt: the first denominator coefficient must not be zero.");
    }
    if (num.size() > UINT32_MAX) {
        throw EBadInitializers("ConvFilt: more coefficients than the filter can hold.");
    }
    n = static_cast<std::uint32_t>(num.size());
    try {
        b.resize(n);
        a.resize(n);
        w.resize(n);
    } catch (const std::bad_alloc&) {
        throw EFailedAllocation("ConvFilt: Couldn't get memory for tap and/or weight storage.");
    }
    const double d0 = den[0];
    for (std::uint32_t k = 0; k < n; ++k) {
        b[k] = num[k] / d0;
        a[k] = den[k] / d0;
        w[k] = init[k];
    }
}

double ConvFilt::Filter(double x) {
    double* const ws = w.data();
    const double* const as = a.data();
    const double* const bs = b.data();

    for (std::uint32_t k = n - 1; k >= 1; --k) ws[k] = ws[k - 1];

    // Both sums run in increasing k, four terms per round, so that the result does not depend
    // on the unrolling.
    double v = x;
    std::uint32_t k = 1;
    for (; k + 3 < n; k += 4) {
        v -= as[k] * ws[k];
        v -= as[k + 1] * ws[k + 1];
        v -= as[k + 2] * ws[k + 2];
        v -= as[k + 3] * ws[k + 3];
    }
    for (; k < n; ++k) v -= as[k] * ws[k];
    ws[0] = v;

    double y = bs[0] * ws[0];
    k = 1;
    for (; k + 3 < n; k += 4) {
        y += bs[k] * ws[k];
        y += bs[k + 1] * ws[k + 1];
        y += bs[k + 2] * ws[k + 2];
        y += bs[k + 3] * ws[k + 3];
    }
    for (; k < n; ++k) y += bs[k] * ws[k];
    return y;
}

std::vector<double> ConvFilt::Filter(std::vector<double> samples) {
    for (double& s : samples) s = Filter(s);
    return samples;
}
