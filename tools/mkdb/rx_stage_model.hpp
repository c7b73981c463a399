#pragma once
// Sampling of the equaliser stage transfer functions and static amplitude curves that make up
// the receiver's characterisation records.
#include <vector>

#include "rx/response_database.hpp"

namespace mkdb {

// 0 Hz, then pointsPerDecade logarithmically spaced points from startHz up to stopHz
// (stopHz included).
std::vector<double> frequencyGrid(double startHz, double stopHz, int pointsPerDecade);

// H(s) = K (1 + s/wz) / ((1 + s/wp1)(1 + s/wp2)) e^(-s delay), where K = 10^(dcGainDb/20),
// wp1 = 2 pi poleHz, wz = wp1 / 10^(peakingDb/20), wp2 = secondPoleRatio * wp1. With 0 dB of
// peaking the zero cancels the first pole.
struct StageShape {
    double dcGainDb = 0;
    double peakingDb = 0;
    double poleHz = 1e9;
    double secondPoleRatio = 2;
    double delaySeconds = 0;
};

// Magnitude (dB) and phase (degrees, unwrapped along the grid) of the stage at each frequency.
void sampleStage(const StageShape& shape, const std::vector<double>& frequencies,
                 std::vector<double>& magnitudeDb, std::vector<double>& phaseDeg);

// Removes the 360-degree jumps of a phase sequence so that consecutive values differ by less
// than 180 degrees.
std::vector<double> unwrapDegrees(const std::vector<double>& phaseDeg);

// Curve record: row 0 inputs from -inputMax to +inputMax, row 1 saturation * tanh(x/saturation);
// with secondSaturation > 0, rows 2 and 3 hold a second pair of the same form.
ResponseRecord saturationCurve(int points, double inputMax, double saturation,
                               double secondSaturation = 0);

}  // namespace mkdb
