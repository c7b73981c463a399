#pragma once
// Pulse response and statistical eye: the inter-symbol interference distribution at each
// sampling phase (convolution of the two-valued distributions of every cursor), mixed over
// the sampling-time jitter the models report.
#include <functional>
#include <vector>

namespace amisim {

struct PulseResponse {
    std::vector<double> samples;  // volts: response to one bit of +amplitude
    double sampleInterval = 0;
    int samplesPerBit = 0;
    std::size_t mainIndex = 0;  // index of the largest sample (the main cursor)
    double mainCursor() const { return samples.empty() ? 0.0 : samples[mainIndex]; }
};

// Convolution of the impulse (1/s) with a one-bit rectangle of height `amplitude` volts.
PulseResponse makePulse(const std::vector<double>& impulse, double sampleInterval,
                        int samplesPerBit, double amplitude);

struct JitterBudget {
    double rjRms = 0;  // seconds, Gaussian standard deviation (all sources combined)
    double djPp = 0;   // seconds, peak to peak, dual Dirac
    double dcdPp = 0;  // seconds, peak to peak, dual Dirac
};

struct StatEyeOptions {
    double ber = 1e-12;
    int phasesPerUi = 64;
    int voltageBins = 4097;
    double sensitivity = 0;  // volts; the latch needs |v| above it, so 2x comes off the height
    JitterBudget jitter;
    // Only the figures (height, width, opening per phase): no density, contours or bathtub.
    // The figures are the same either way; a sweep point needs no more.
    bool figuresOnly = false;
    // Called now and then with the work done and the work in all (sampling phases).
    std::function<void(int done, int total)> progress;
};

// Jitter beyond this many unit intervals either side is cut off: the eye is long closed by then,
// and the work grows with the span.
constexpr double kMaxJitterSpanUi = 2.0;

// Inner boundary of the "1" level at one BER, per display phase (volts; the "0" level mirrors it).
struct BerContour {
    double ber = 0;
    std::vector<double> inner;
};

struct StatEyeResult {
    double eyeHeight = 0;         // volts at the target BER, after the sensitivity, never negative
    double rawEyeHeight = 0;      // volts at the target BER, before the sensitivity (may be < 0)
    double eyeWidth = 0;          // UI
    double bestPhaseUi = 0;       // sampling phase of the largest opening, from the main cursor
    std::vector<double> phaseUi;  // display phases, -1 .. 1 UI around the main cursor
    std::vector<double> opening;  // 2 * inner boundary at the BER, per display phase (volts)
    std::vector<double> bathtub;  // bit-error ratio at the threshold 0 V, per display phase
    std::vector<BerContour> contours;  // every third decade from 1e-3 down to the BER, and the BER
    bool jitterCut = false;            // the jitter reached past kMaxJitterSpanUi and was cut
    // density[i * voltageBins + j]: probability of voltage bin j at display phase i
    std::vector<double> density;
    int voltageBins = 0;
    double vMin = 0, vMax = 0;
};

StatEyeResult computeStatEye(const PulseResponse& pulse, const StatEyeOptions& opt);

}  // namespace amisim
