#pragma once
// Least-squares polynomial fits through GSL's truncated-SVD solver, used for the static
// amplitude curves of the equaliser stages and for the jitter curves.
#include <cstddef>
#include <vector>

#include "engine/channel/numeric_tools.hpp"  // EvaluatePolynomial, for the fits' users

// Singular values below this fraction of the largest are dropped (the machine epsilon).
inline constexpr double kFitTolerance = 2.220446049250313e-16;
// Amplitude curves are fitted with a degree-13 polynomial.
inline constexpr std::size_t kAmplitudeFitCoefficients = 14;

// Coefficients c_0 ... c_{n-1} (ascending powers) minimising sum (y_i - sum_j c_j x_i^j)^2.
// When there are fewer points than coefficients, the highest powers are left at 0 and the rest
// fitted. Returns an empty vector when x and y differ in length, are empty or hold a value that
// is not finite.
std::vector<double> FitPolynomial(const std::vector<double>& x, const std::vector<double>& y,
                                  std::size_t coefficientCount, double tolerance = kFitTolerance);

// Fit of y against x scaled by `xScale` (the inputs of a curve seen through a gain).
std::vector<double> FitAmplitudeCurve(const std::vector<double>& x, const std::vector<double>& y,
                                      double xScale);
