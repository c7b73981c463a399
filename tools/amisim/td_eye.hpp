#pragma once
// Eye measurement on the receiver's output waveform, fed block by block. Each bit is sampled
// over two unit intervals around a reference instant: the receiver's clock time plus half a bit
// when it returns clock times, else the bit's nominal centre (and the best phase is searched).
// The receiver's own jitter moves each bit's sampling instant.
#include <cstdint>
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
};

struct TdEyeResult {
    bool usedClockTimes = false;
    double eyeHeight = 0;    // volts: inner opening less twice the sensitivity, never negative
    double opening = 0;      // volts, inner opening at the sampling point, negative when closed
    double eyeWidth = 0;     // UI
    double bestPhaseUi = 0;  // sampling point from the bit centre (best-phase sampling)
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
    // Eye picture: counts over 2 UI (columns) by voltage (rows), centred on the sampling point.
    int pictureColumns = 0, pictureRows = 0;
    double vMin = 0, vMax = 0;
    std::vector<double> picture;
};

class TdEye {
  public:
    TdEye(const std::vector<bool>& bits, const TdEyeOptions& options);

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
        std::vector<double> pictureRefs;  // reference instants (samples) for the picture
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
    void drainNominal();
    void drainClocks(bool final);
    double valueAt(double samplePos) const;
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
    std::vector<float> pictureSamples_;  // samples kept for the picture
    std::uint64_t pictureStart_ = 0;
};

}  // namespace amisim
