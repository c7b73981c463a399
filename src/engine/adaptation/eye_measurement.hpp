#pragma once
// Eye figures of a processed waveform: the eye closure "DJ" (fraction of a unit interval that
// zero crossings occupy), the sampling phase (half a unit interval after the phase whose
// two-level histogram separates worst) and the vertical opening "Vheight" at that phase.
#include <cstddef>
#include <span>
#include <vector>

// Which samples the eye reads: the last bits * samplesPerBit samples that lie before the final
// `tail` samples of a waveform (fewer when the waveform is shorter).
struct EyeWindow {
    std::size_t bits = 0;
    int samplesPerBit = 0;
    std::size_t tail = 0;

    std::span<const double> Of(std::span<const double> waveform) const;
};

struct EyeMetrics {
    double dj = 1.0;  // eye closure, fraction of a unit interval; 1 without any crossing
    // Volts: the gap around 0 between the innermost samples at the sampling phase. It cannot
    // tell a closed eye from a small one (the bits are not known here); a closed eye is told by
    // its closure reaching 1, which makes its area 0.
    double vheight = 0.0;
    int samplingPhase = 0;
};

// Separation figure of a phase (dB) from the 100-bin histogram of its samples between their
// minimum and maximum, described by the count, sum and sum of squares of the bin indices of the
// lower 50 bins and of the upper 50 bins (indices 0..49 within each half): with mean m and
// variance v of each half (m = 1, v = 0 for an empty half), d = (50 + m_upper) - m_lower,
// S = 2 (d / 2)^2, N = (v_lower + v_upper) / 2, the figure is 10 log10(S / N), or 100 when
// N = 0.
struct HalfMoments {
    double count = 0;
    double sum = 0;
    double sumSquares = 0;
};
double PhaseFigure(const HalfMoments& lower, const HalfMoments& upper);

// Measures windows of one samples-per-bit figure; keeps its scratch space between calls, so that
// a sweep measuring thousands of waveforms does not allocate for each.
class EyeMeter {
  public:
    struct PhaseAnalysis {
        bool usable = false;  // every sample is a finite number (and their ranges are finite)
        int phase = -1;       // -1 when the window is not usable or holds no whole bit
    };
    // Phase (0 .. spb - 1) to sample at: half a unit interval after the phase with the smallest
    // PhaseFigure (the first on ties). Two passes over the window.
    PhaseAnalysis AnalysePhases(std::span<const double> window, int samplesPerBit);
    int SamplingPhase(std::span<const double> window, int samplesPerBit);

    // Eye closure from the zero crossings: crossing positions i + x[i] / (x[i] - x[i+1]) folded
    // into the unit interval, a histogram with bins of spb/128 whose edges run from 0 to
    // spb * 127/128 (127 bins, the last one closed), and the longest circular run of empty bins:
    // DJ = 1 - run / 128. Without any crossing DJ = 1. A run never exceeds the number of bins:
    // when every crossing falls beyond the last edge the eye is taken as open for 127/128 UI.
    static double Closure(std::span<const double> window, int samplesPerBit);

    // Smallest sample above 0 minus largest sample not above 0 among the samples at `phase`
    // (every samplesPerBit-th sample from the start when phase < 0). 0 when one of the two
    // levels is missing.
    static double Height(std::span<const double> window, int samplesPerBit, int phase);

    // Sum of (|x| - target)^2 over the samples at `phase` (as Height chooses them).
    static double LevelCost(std::span<const double> window, int samplesPerBit, int phase,
                            double target);

    // All three figures of the window of `waveform`. A window with a non-finite sample, or
    // samplesPerBit < 1, gives DJ 1 and Vheight 0: an eye that never qualifies.
    EyeMetrics Measure(std::span<const double> waveform, const EyeWindow& window);
    // The same, with the phase analysis of this window already made (by the VGA selection).
    EyeMetrics Measure(std::span<const double> waveform, const EyeWindow& window,
                       const PhaseAnalysis& phases);

  private:
    // Per phase: range, scale to bins, and the sums of the bin indices.
    std::vector<double> low_, high_, check_, scale_;
    std::vector<double> sum_, sumSquares_, upperCount_, upperSum_, upperSquares_;
};

// EyeMeter().Measure(waveform, {bits, samplesPerBit, tail}).
EyeMetrics MeasureEye(std::span<const double> waveform, std::size_t bits, int samplesPerBit,
                      std::size_t tail);
