// Polynomial least squares through gsl_multifit_linear_tsvd.
#include "rx/response_fit.hpp"

#include <gsl/gsl_matrix.h>
#include <gsl/gsl_multifit.h>
#include <gsl/gsl_vector.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

struct MatrixFree {
    void operator()(gsl_matrix* m) const { gsl_matrix_free(m); }
};
struct VectorFree {
    void operator()(gsl_vector* v) const { gsl_vector_free(v); }
};
struct WorkspaceFree {
    void operator()(gsl_multifit_linear_workspace* w) const { gsl_multifit_linear_free(w); }
};

bool allFinite(const std::vector<double>& values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

}  // namespace

std::vector<double> FitPolynomial(const std::vector<double>& x, const std::vector<double>& y,
                                  std::size_t coefficientCount, double tolerance) {
    const std::size_t n = x.size();
    if (n == 0 || n != y.size() || coefficientCount == 0 || !allFinite(x) || !allFinite(y)) {
        return {};
    }
    // The SVD needs at least as many rows as columns; with fewer points the top powers stay 0.
    const std::size_t p = std::min(coefficientCount, n);

    std::unique_ptr<gsl_matrix, MatrixFree> X(gsl_matrix_alloc(n, p));
    std::unique_ptr<gsl_vector, VectorFree> Y(gsl_vector_alloc(n));
    std::unique_ptr<gsl_vector, VectorFree> c(gsl_vector_alloc(p));
    std::unique_ptr<gsl_matrix, MatrixFree> cov(gsl_matrix_alloc(p, p));
    std::unique_ptr<gsl_multifit_linear_workspace, WorkspaceFree> work(
        gsl_multifit_linear_alloc(n, p));
    if (!X || !Y || !c || !cov || !work) return {};

    for (std::size_t i = 0; i < n; ++i) {
        double power = 1.0;
        for (std::size_t j = 0; j < p; ++j) {
            gsl_matrix_set(X.get(), i, j, power);
            power *= x[i];
        }
        gsl_vector_set(Y.get(), i, y[i]);
    }
    // Powers of large inputs can overflow; the solver must not see them.
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < p; ++j) {
            if (!std::isfinite(gsl_matrix_get(X.get(), i, j))) return {};
        }
    }

    double chisq = 0;
    std::size_t rank = 0;
    if (gsl_multifit_linear_tsvd(X.get(), Y.get(), tolerance, c.get(), cov.get(), &chisq, &rank,
                                 work.get()) != 0) {
        return {};
    }
    std::vector<double> coefficients(coefficientCount, 0.0);
    for (std::size_t j = 0; j < p; ++j) coefficients[j] = gsl_vector_get(c.get(), j);
    return coefficients;
}

std::vector<double> FitAmplitudeCurve(const std::vector<double>& x, const std::vector<double>& y,
                                      double xScale) {
    std::vector<double> scaled(x.size());
    std::transform(x.begin(), x.end(), scaled.begin(), [xScale](double v) { return v * xScale; });
    return FitPolynomial(scaled, y, kAmplitudeFitCoefficients);
}
