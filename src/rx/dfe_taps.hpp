#pragma once
// DFE tap codes: their ranges, and the conversions between codes and feedback weights.
#include <cstddef>
#include <vector>

inline constexpr int kDfeTapCount = 11;
// Full code range per tap, taps 1 ... 11; a code is bounded to +-(range / 2).
inline constexpr int kDfeTapRanges[kDfeTapCount] = {254, 254, 254, 126, 126, 62,
                                                    62,  126, 126, 126, 126};

// Range of tap index k (0-based); the taps past the eleventh (the floating taps) take the
// range of the last one.
int DfeTapRange(std::size_t k);

// The weight (volts) of a code under the scale s: code steps of (upper - lower) / span * s. The
// exact inverse of DfeWeightToCode, so that a code set comes back as the same code.
double DfeCodeToWeight(int code, double upperLimit, double lowerLimit, double codeSpan,
                       double scale = 1.0);

// The code of a weight under the scale s: the weight in steps of (upper - lower) / span * s,
// rounded half away from zero. A negative weight of a one-sided tap has code 0.
int DfeWeightToCode(double weight, double upperLimit, double lowerLimit, double codeSpan,
                    bool oneSided, double scale);

// The code of a weight from a per-tap code table (voltages from the most negative code to the
// most positive, code 0 in the middle): the first entry nearest to the weight under the scale,
// counted from the middle.
int DfeWeightToCodeByTable(double weight, const std::vector<double>& row, bool oneSided,
                           double scale);
