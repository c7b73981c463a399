#pragma once
// Eye measurement on the receiver's output waveform, fed block by block. Each bit is sampled
// over two unit intervals around a reference instant: the receiver's clock time plus half a bit
// when it returns clock times, else the bit's nominal centre (and the best phase is searched).
// The receiver's own jitter moves each bit's sampling instant.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace amisim {

// Sampling-time jitter in seconds: Gaussian rms and half the duty-cycle distortion (even bits
// are sampled late by dcd, odd bits early).
struct SamplingJitter {
    double rjRms = 0;
    double dcd = 0;
};

struct TdEyeOptions {
    int samplesPerBit = 32;
    double sampleInterval = 1e-12;
    std::size_t mainIndex = 0;  // bit k's centre is at sample k * samplesPerBit + mainIndex
    std::uint64_t ignoreBits = 0;
    SamplingJitter jitter;
    std::uint64_t seed = 1;
    double sensitivity = 0;   // volts the latch needs either side: 2x comes off the height
    double levelRange = 1.0;  // volts: the level histograms span +-levelRange
    // Without clock times: sample at this phase from the bit centre (UI) instead of searching
    // the best one.
    std::optional<double> fixedPhaseUi;
    // Draw the picture's traces on a thread of their own (the same picture).
    bool paintAside = false;
};

// The eye of a stretch of the measured bits, at the whole run's sampling point.
struct SegmentEye {
    std::uint64_t firstBit = 0, bits = 0;  // bits sampled, from firstBit on
    double eyeHeight = 0;                  // volts, by the same rule as the whole run's
    double levelOneMin = 0, levelZeroMax = 0;
    double signalLevel = 0;
    std::uint64_t bitErrors = 0;
};

struct TdEyeResult {
    bool usedClockTimes = false;
    // volts: the opening around the decision threshold (0 V) less twice the sensitivity; 0
    // when any "1" falls at or below sensitivity or any "0" at or above -sensitivity, since
    // the latch then decides some bits wrongly
    double eyeHeight = 0;
    double opening = 0;  // volts, lowest "1" less highest "0" at the sampling point (may be < 0)
    double levelOneMin = 0, levelZeroMax = 0;  // volts: the two levels bounding that opening
    double eyeWidth = 0;                       // UI
    double bestPhaseUi = 0;  // sampling point from the bit centre (best-phase sampling)
    // mean sampling instant (before amisim's own sampling jitter) from the instant of the
    // pulse's main cursor, UI: where the receiver's clock sat on average
    double meanPhaseUi = 0;
    std::uint64_t sampledBits = 0;
    std::uint64_t bitErrors = 0;  // decisions at the sampling point that differ from the data
    std::uint64_t clockTimes = 0;
    double meanClockPeriod = 0;  // seconds, from the first and last clock time
    int bitShift = 0;            // alignment correction found from the data, in bits
    double signalLevel = 0;      // mean of v * (+-1) at the sampling point: the main cursor seen
    double peakAbs = 0;          // largest |v| of the output after the ignored bits
    // Bathtub over two unit intervals, phases from the sampling point: the counted error ratio
    // and its extrapolation below what the bit count can show, from Gaussians fitted on the
    // Q scale to the inner tails (the 10 % of each level nearest the threshold).
    std::vector<double> phaseUi, berCounted, berExtrapolated, openingByPhase;
    // The third and the last quarter of the measured bits: a settled eye has the same in both.
    std::array<SegmentEye, 2> lastQuarters;
    // Eye picture over 2 UI (columns) by voltage (rows), centred on the sampling point: the
    // number of traces that pass through each pixel (where a pixel merges finer rows, the most
    // any of them holds). Every measured bit's trace is drawn around its own sampling
    // instant, so the picture's opening at the centre is the measured one.
    int pictureColumns = 0, pictureRows = 0;
    double vMin = 0, vMax = 0;
    std::vector<double> picture;
    std::uint64_t pictureTraces = 0;
};

// Decades of a logarithmic colour scale over a trace picture that reaches down to a single
// trace per pixel.
double traceScaleDecades(const std::vector<double>& picture);

class TracePainter;

class TdEye {
  public:
    TdEye(const std::vector<bool>& bits, const TdEyeOptions& options);
    ~TdEye();

    // Consecutive receiver output blocks and the clock times the receiver returned for them.
    void addBlock(const std::vector<double>& wave, const std::vector<double>& clockTimes);
    TdEyeResult finish();

  private:
    static constexpr int kShifts = 2;  // alignment is checked over -2 .. +2 bits
    static constexpr int kHistogramBins = 256;
    struct ColumnStats {
        std::uint64_t n1 = 0, n0 = 0, errors = 0;
        double min1 = 0, max0 = 0, sum1 = 0, sum0 = 0;
        std::vector<std::uint32_t> hist1, hist0;  // level histograms over +-levelRange
    };
    // Statistics of one way of sampling, per alignment shift and column.
    struct Sampler {
        std::vector<std::vector<ColumnStats>> stats;  // [shift][column]
        // [quarter][shift][column], the third and last quarter of the measured bits
        std::array<std::vector<std::vector<ColumnStats>>, 2> quarters;
        // traces per pixel over 3 UI around the sampling instants, on a fine voltage grid, row
        // by row, kept as each pixel's difference from the one below (a trace adds one at its
        // lowest row and takes one off above its highest, whatever its height); unsigned
        // arithmetic wraps and the running sums come out exact
        std::vector<std::uint32_t> picture;
        std::uint64_t traces = 0;
        double phaseSum = 0;  // sum of (instant - bit k's nominal instant), samples
        std::uint64_t bits = 0;
        int shift = -1;  // index of the alignment chosen after kDecideBits bits, -1 before
    };
    // The alignment is plain after a few hundred bits (the right one has no or few errors,
    // the others half); from then on only it is followed.
    static constexpr std::uint64_t kDecideBits = 512;
    // Alignment (index into stats) and sampling column: at the centre for clock times, the
    // best opening within the central unit interval otherwise.
    std::pair<std::size_t, std::size_t> choose(const Sampler& s, bool clock) const;
    void sampleBit(Sampler& s, double refSample, std::int64_t k);
    void drainNominal(bool final);
    void drainClocks(bool final);
    int quarterOf(std::int64_t k) const;
    void drawTrace(Sampler& s, double instant);
    // Adds the trace around `instant` into `picture`, reading samples through value(position).
    template <class Value>
    void paintTrace(std::uint32_t* picture, double instant, Value value) const;
    void drawPicture(const Sampler& s, double offset, TdEyeResult& r) const;
    double valueAt(double samplePos) const;
    // Whether every position in [lo, hi] lies inside the window, where valueAt is
    // interpolatedAt (the same arithmetic without the checks at the window's ends).
    bool covers(double lo, double hi) const {
        const double x = lo - static_cast<double>(windowStart_);
        const double y = hi - static_cast<double>(windowStart_);
        return x > 0 && y >= x && static_cast<std::size_t>(y) + 1 < window_.size();
    }
    double interpolatedAt(const double* w, double base, double pos) const {
        const double x = pos - base;
        const std::size_t i = static_cast<std::size_t>(x);
        const double f = x - static_cast<double>(i);
        return w[i] + f * (w[i + 1] - w[i]);
    }
    double jitterFor(std::int64_t k);
    TdEyeResult evaluate(const Sampler& s, bool clock) const;
    double tailBer(const std::vector<std::uint32_t>& hist, std::uint64_t n, bool one) const;

    const std::vector<bool>& bits_;
    TdEyeOptions opt_;
    int spb_;
    int columns_;
    std::uint64_t samplesSeen_ = 0;
    Sampler nominal_, clocked_;
    std::uint64_t nextNominalBit_ = 0;
    std::vector<double> pendingClocks_;
    std::vector<double> window_;  // recent output samples, window_[0] is sample windowStart_
    std::uint64_t windowStart_ = 0;
    std::uint64_t clockCount_ = 0;
    double firstClock_ = -1, lastClock_ = -1;
    double peakAbs_ = 0;
    std::unique_ptr<TracePainter> painter_;  // with paintAside
};

}  // namespace amisim
