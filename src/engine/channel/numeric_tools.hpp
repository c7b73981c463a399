#pragma once
// Small numeric routines of the channel utilities and the receiver's response fits.
#include <vector>

// c0 + c1*x + ... + cn*x^n (0 for no coefficients), by Horner's rule.
double EvaluatePolynomial(const std::vector<double>& coefficients, double x);
// The same for every value of `xs`, in place.
void EvaluatePolynomial(const std::vector<double>& coefficients, std::vector<double>& xs);

// Linear interpolation between the two points that bracket x, for ascending or descending
// abscissae; outside the table the ordinate of the nearer end. A table of one point gives its
// ordinate; an empty table or lists of different lengths raise ChannelDataError.
double InterpolateClamped(const std::vector<double>& xs, const std::vector<double>& ys, double x);
