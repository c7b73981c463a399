#include "rx/filter_stage.hpp"

#include <algorithm>
#include <cmath>

namespace v10kx_ami_rx {

void StageBins(const StageResponse& stage, std::size_t fftSize, double sampleInterval,
               std::vector<std::complex<double>>& bins) {
    bins.resize(fftSize / 2 + 1);
    StageSampler(stage).SampleGrid(1.0 / (static_cast<double>(fftSize) * sampleInterval),
                                   bins.size(), bins.data());
}

std::vector<std::complex<double>> StageBins(const StageResponse& stage, std::size_t fftSize,
                                            double sampleInterval) {
    std::vector<std::complex<double>> bins;
    StageBins(stage, fftSize, sampleInterval, bins);
    return bins;
}

std::unique_ptr<SpectrumStage> MakeFilterStage(const StageResponse& stage, double sampleInterval,
                                               std::shared_ptr<FftWorkspace> workspace) {
    const std::size_t n = workspace->Size();
    return std::make_unique<SpectrumStage>(StageBins(stage, n, sampleInterval),
                                           std::move(workspace));
}

namespace {

// The response of the cascade to one bit, on a grid: sample j is the response j samples after
// the bit's end (circularly, so the last samples are the response before time zero). Sampling the
// stages up to the Nyquist frequency leaves a ringing at that frequency in the impulse response,
// which a bit sums away but which would otherwise dominate any measure of its length.
std::vector<double> BitResponse(const std::vector<StageResponse>& stages, std::size_t grid,
                                double sampleInterval, std::size_t bit) {
    // Only a length is judged from this response, so the grid sampling (a few units in the last
    // place from the stages' own bins) serves, at a fraction of the cost on the long grids
    // odd timings need.
    const double spacing = 1.0 / (static_cast<double>(grid) * sampleInterval);
    std::vector<std::complex<double>> bins(grid / 2 + 1, 1.0);
    std::vector<std::complex<double>> s(bins.size());
    for (const StageResponse& stage : stages) {
        StageSampler(stage).SampleGrid(spacing, s.size(), s.data());
        for (std::size_t k = 0; k < bins.size(); ++k) bins[k] *= s[k];
    }
    const std::vector<double> h = RealSignal(bins, grid);
    const std::size_t width = std::min(bit, grid);
    std::vector<double> pulse(grid);
    double sum = 0;
    for (std::size_t i = 0; i < width; ++i) sum += h[(grid - i) % grid];
    for (std::size_t j = 0; j < grid; ++j) {
        pulse[j] = sum;
        sum += h[(j + 1) % grid];
        sum -= h[(j + 1 + grid - width) % grid];
    }
    return pulse;
}

enum class Side { Causal, BeforeTimeZero };

// How far the cascade's bit response reaches on one side of time zero: the shortest span for
// which leaving out the rest would change a random bit stream of 1 V swing (samplesPerBit
// samples per bit) by less than kHistoryErrorPerVolt, taken as four standard deviations of the
// change. A bit at each phase meets every bit-th sample of the rest of the bit response, each
// weighted by an independent +-1 V: the variance of their sum, averaged over the phases, must
// stay below (limit / 4)^2.
std::size_t ResponseSpan(const std::vector<StageResponse>& stages, double sampleInterval,
                         double samplesPerBit, Side side) {
    if (stages.empty()) return 0;
    const std::size_t bit = static_cast<std::size_t>(
        std::clamp(std::round(samplesPerBit), 1.0, static_cast<double>(kMaxCascadeHistory)));
    const double limit = kHistoryErrorPerVolt / 4.0;
    const double allowed = limit * limit * static_cast<double>(bit);
    std::size_t grid = std::size_t{1} << 15;
    for (;;) {
        const std::vector<double> pulse = BitResponse(stages, grid, sampleInterval, bit);
        // One side, ordered away from time zero.
        std::vector<double> span(grid / 2);
        for (std::size_t j = 0; j < span.size(); ++j)
            span[j] = side == Side::Causal ? pulse[j] : pulse[grid - 1 - j];
        std::size_t length = span.size();
        double tail = 0;
        while (length > 0 && tail + span[length - 1] * span[length - 1] <= allowed) {
            tail += span[length - 1] * span[length - 1];
            --length;
        }
        // A response that reaches into the second quarter may be longer than this grid shows.
        if (length <= grid / 4 || grid >= 4 * kMaxCascadeHistory) {
            return std::min(length, kMaxCascadeHistory);
        }
        grid *= 2;
    }
}

}  // namespace

std::size_t CascadeHistoryLength(const std::vector<StageResponse>& stages, double sampleInterval,
                                 double samplesPerBit) {
    return ResponseSpan(stages, sampleInterval, samplesPerBit, Side::Causal);
}

std::size_t CascadeLookAheadLength(const std::vector<StageResponse>& stages, double sampleInterval,
                                   double samplesPerBit) {
    return ResponseSpan(stages, sampleInterval, samplesPerBit, Side::BeforeTimeZero);
}

namespace {

constexpr std::size_t kTapGrid = std::size_t{1} << 15;

std::vector<std::complex<double>> SampledBins(const StageResponse& stage, std::size_t grid,
                                              double sampleInterval) {
    std::vector<std::complex<double>> bins(grid / 2 + 1);
    StageSampler(stage).SampleGrid(1.0 / (static_cast<double>(grid) * sampleInterval), bins.size(),
                                   bins.data());
    return bins;
}

std::vector<double> StageTaps(const StageResponse& stage, double sampleInterval, std::size_t bit,
                              double allowed) {
    for (std::size_t grid = kTapGrid;; grid *= 2) {
        const std::vector<double> h = RealSignal(SampledBins(stage, grid, sampleInterval), grid);
        // The causal half's bit response, ordered away from time zero.
        const std::size_t half = grid / 2;
        std::vector<double> pulse(half);
        double sum = 0;
        for (std::size_t i = 0; i < bit; ++i) sum += h[(grid - i) % grid];
        for (std::size_t j = 0; j < half; ++j) {
            pulse[j] = sum;
            sum += h[(j + 1) % grid];
            sum -= h[(j + 1 + grid - bit) % grid];
        }
        std::size_t length = half;
        double tail = 0;
        while (length > 0 && tail + pulse[length - 1] * pulse[length - 1] <= allowed) {
            tail += pulse[length - 1] * pulse[length - 1];
            --length;
        }
        if (length <= grid / 4 || grid >= 4 * kMaxCascadeHistory) {
            // Beyond the bit response's span only what a bit sums away remains (the ringing at
            // the Nyquist frequency that sampling the stage up to it leaves).
            const std::size_t count = std::clamp<std::size_t>(length, 1, half);
            std::vector<double> taps(h.begin(), h.begin() + static_cast<std::ptrdiff_t>(count));
            for (std::size_t j = half; j < grid; ++j) taps[0] += h[j];
            return taps;
        }
    }
}

}  // namespace

std::vector<std::vector<double>> CascadeStageTaps(const std::vector<StageResponse>& stages,
                                                  double sampleInterval, double samplesPerBit) {
    std::vector<std::vector<double>> taps(stages.size());
    if (stages.empty()) return taps;
    const std::size_t bit = static_cast<std::size_t>(
        std::clamp(std::round(samplesPerBit), 1.0, static_cast<double>(kMaxCascadeHistory)));
    // What a stage leaves out of its slow tail reaches the output through the later stages'
    // low-frequency gain (never taken below 1, as the amplitude curves may restore a level).
    std::vector<double> peak(stages.size(), 1.0);
    for (std::size_t k = 0; k < stages.size(); ++k)
        peak[k] = std::max(std::abs(StageSampler(stages[k])(0.0)), 1.0);
    double later = 1.0;
    for (std::size_t k = stages.size(); k-- > 0;) {
        const double limit = kHistoryErrorPerVolt / 4.0 / later;
        const double allowed =
            limit * limit * static_cast<double>(bit) / static_cast<double>(stages.size());
        taps[k] = StageTaps(stages[k], sampleInterval, bit, allowed);
        later *= peak[k];
    }
    return taps;
}

}  // namespace v10kx_ami_rx
