#pragma once
// interpolation/: tabulated curves resampled by method name (Interpolate and its methods).
//
// Resampling of tabulated curves by method name. Every receiver stage that moves a curve onto
// another abscissa grid (clock recovery, adaptation, impulse processing, channel tools) goes
// through Interpolate, so the choice of method stays a text the callers can pass around.
#include <string>
#include <vector>

#include "engine/interpolation/interpolation_error.hpp"

// Method names, exact and case-sensitive. Any other text computes nothing.
inline constexpr const char* kInterpNr3Linear = "NR3_linear";
inline constexpr const char* kInterpNr3Poly = "NR3_poly";
inline constexpr const char* kInterpNr3Rational = "NR3_rational";
inline constexpr const char* kInterpLinear = "linear";
inline constexpr const char* kInterpLinearOld = "linear_old";
inline constexpr const char* kInterpPolynomial = "polynomial";
inline constexpr const char* kInterpCspline = "cspline";
inline constexpr const char* kInterpAkima = "akima";

// Resizes out to xi.size(), then out[k] = value of the curve (x, y) at xi[k]. x must hold as many
// points as y and be strictly monotonic (ascending or descending). Abscissae outside the table
// are extrapolated from the nearest end interval. An unknown method leaves out resized to
// xi.size() with nothing computed. Throws InterpolationError on an unusable table.
void Interpolate(std::string method, const std::vector<double>& x, const std::vector<double>& y,
                 const std::vector<double>& xi, std::vector<double>& out);

// Interpolate at one abscissa (0 for an unknown method).
double InterpolateAt(std::string method, const std::vector<double>& x, const std::vector<double>& y,
                     double v);
