#include "rx/filter_stage.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

#include "engine/fft/real_fft_plan.hpp"

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

// Buffers of the measures on one grid, made once and reused from stage to stage and grid to
// grid: the measures run on grids of 2^15 samples and more, where fresh buffers for every stage
// cost more than the arithmetic.
class MeasureGrid {
  public:
    // Readies the buffers for a grid of `grid` samples.
    void Resize(std::size_t grid) {
        if (grid == size_) return;
        plan_.emplace(grid, FftEngine::Fftw);
        buffer_.emplace(grid);
        scratch_.clear();
        size_ = grid;
    }
    std::size_t Size() const { return size_; }
    std::size_t BinCount() const { return size_ / 2 + 1; }
    // The bins the next Impulse transforms.
    std::complex<double>* Bins() { return buffer_->Bins(); }
    // Room for one stage's bins (made on first use: the taps need none).
    std::complex<double>* Scratch() {
        scratch_.resize(BinCount());
        return scratch_.data();
    }
    // The real signal of the bins (1/n included), in place of them: Size() samples.
    const double* Impulse() {
        plan_->Inverse(*buffer_);
        const double scale = 1.0 / static_cast<double>(size_);
        double* x = buffer_->Samples();
        for (std::size_t i = 0; i < size_; ++i) x[i] *= scale;
        return x;
    }
    std::vector<double>& Pulse() { return pulse_; }

  private:
    std::size_t size_ = 0;
    std::optional<RealFftPlan> plan_;
    std::optional<RealFftBuffer> buffer_;
    std::vector<std::complex<double>> scratch_;
    std::vector<double> pulse_;
};

// The response to one bit of `bit` samples, from the impulse response `h` on a circular grid of
// `grid` samples, into `pulse` (its first `count` samples): sample j is the response j samples
// after the bit's end (so the last samples of the grid are the response before time zero).
// Sampling a stage up to the Nyquist frequency leaves a ringing at that frequency in its impulse
// response, falling only as 1/n. A bit of an even count of samples sums it away; for an odd
// count the sum leaves one sample of it, and a measure of length would then judge that ringing
// rather than the response. There the bit response is averaged over two neighbouring samples,
// which cancels the ringing as an even count does and moves the measure by half a sample.
void BitPulse(const double* h, std::size_t grid, std::size_t bit, std::size_t count,
              std::vector<double>& pulse) {
    const std::size_t width = std::min(bit, grid);
    pulse.resize(count);
    double sum = 0;
    for (std::size_t i = 0; i < width; ++i) sum += h[(grid - i) % grid];
    double last = 0;  // the sample before the first, circularly
    for (std::size_t j = 0; j < grid; ++j) {
        if (j < count) pulse[j] = sum;
        if (j == grid - 1) last = sum;
        sum += h[(j + 1) % grid];
        sum -= h[(j + 1 + grid - width) % grid];
    }
    if (width % 2 == 1) {
        for (std::size_t j = count; j-- > 1;) pulse[j] = 0.5 * (pulse[j] + pulse[j - 1]);
        pulse[0] = 0.5 * (pulse[0] + last);
    }
}

// The cascade's impulse response on the circular grid of `work`.
const double* CascadeImpulse(const std::vector<StageSampler>& stages, double sampleInterval,
                             MeasureGrid& work) {
    // Only a length is judged from this response, so the grid sampling (a few units in the last
    // place from the stages' own bins) serves, at a fraction of the cost on long grids.
    const double spacing = 1.0 / (static_cast<double>(work.Size()) * sampleInterval);
    const std::size_t count = work.BinCount();
    std::complex<double>* bins = work.Bins();
    std::complex<double>* s = work.Scratch();
    std::fill(bins, bins + count, std::complex<double>(1.0));
    for (const StageSampler& stage : stages) {
        stage.SampleGrid(spacing, count, s);
        for (std::size_t k = 0; k < count; ++k) bins[k] *= s[k];
    }
    return work.Impulse();
}

std::size_t SamplesPerBit(double samplesPerBit) {
    return static_cast<std::size_t>(
        std::clamp(std::round(samplesPerBit), 1.0, static_cast<double>(kMaxCascadeHistory)));
}

// The length of a bit response on one side of time zero: the shortest span outside which the
// squares of its samples add up to no more than `allowed`. `pulse` holds the bit response on a
// circular grid of `grid` samples: the causal side needs its first half, the side before time
// zero the whole grid.
std::size_t SideSpan(const std::vector<double>& pulse, std::size_t grid, bool causal,
                     double allowed) {
    std::size_t length = grid / 2;
    double tail = 0;
    for (; length > 0; --length) {
        const double v = causal ? pulse[length - 1] : pulse[grid - length];
        if (tail + v * v > allowed) break;
        tail += v * v;
    }
    return length;
}

}  // namespace

// How far the cascade's bit response reaches on each side of time zero: the shortest span for
// which leaving out the rest would change a random bit stream of 1 V swing (samplesPerBit
// samples per bit) by less than kHistoryErrorPerVolt, taken as four standard deviations of the
// change. A bit at each phase meets every bit-th sample of the rest of the bit response, each
// weighted by an independent +-1 V: the variance of their sum, averaged over the phases, must
// stay below (limit / 4)^2. Each side is judged on the first grid that holds it.
CascadeSpan MeasureCascadeSpan(const std::vector<StageResponse>& stages, double sampleInterval,
                               double samplesPerBit) {
    CascadeSpan span;
    if (stages.empty()) return span;
    const std::size_t bit = SamplesPerBit(samplesPerBit);
    const double limit = kHistoryErrorPerVolt / 4.0;
    const double allowed = limit * limit * static_cast<double>(bit);
    const std::vector<StageSampler> samplers(stages.begin(), stages.end());
    MeasureGrid work;
    bool historyFound = false;
    bool lookAheadFound = false;
    for (std::size_t grid = std::size_t{1} << 15;; grid *= 2) {
        work.Resize(grid);
        BitPulse(CascadeImpulse(samplers, sampleInterval, work), grid, bit, grid, work.Pulse());
        const std::vector<double>& pulse = work.Pulse();
        // A response that reaches into the second quarter may be longer than this grid shows.
        const bool last = grid >= 4 * kMaxCascadeHistory;
        if (!historyFound) {
            const std::size_t length = SideSpan(pulse, grid, true, allowed);
            if (length <= grid / 4 || last) {
                span.history = std::min(length, kMaxCascadeHistory);
                historyFound = true;
            }
        }
        if (!lookAheadFound) {
            const std::size_t length = SideSpan(pulse, grid, false, allowed);
            if (length <= grid / 4 || last) {
                span.lookAhead = std::min(length, kMaxCascadeHistory);
                lookAheadFound = true;
            }
        }
        if (historyFound && lookAheadFound) return span;
    }
}

namespace {

constexpr std::size_t kTapGrid = std::size_t{1} << 15;

std::vector<double> StageTaps(const StageResponse& stage, double sampleInterval, std::size_t bit,
                              double allowed, MeasureGrid& work) {
    const StageSampler sampler(stage);
    for (std::size_t grid = kTapGrid;; grid *= 2) {
        work.Resize(grid);
        sampler.SampleGrid(1.0 / (static_cast<double>(grid) * sampleInterval), work.BinCount(),
                           work.Bins());
        const double* h = work.Impulse();
        // Only the causal side is judged.
        BitPulse(h, grid, bit, grid / 2, work.Pulse());
        const std::size_t length = SideSpan(work.Pulse(), grid, true, allowed);
        if (length <= grid / 4 || grid >= 4 * kMaxCascadeHistory) {
            // Beyond the bit response's span only what a bit sums away remains (the ringing at
            // the Nyquist frequency that sampling the stage up to it leaves).
            const std::size_t count = std::clamp<std::size_t>(length, 1, kMaxCascadeHistory);
            std::vector<double> taps(h, h + count);
            for (std::size_t j = grid / 2; j < grid; ++j) taps[0] += h[j];
            return taps;
        }
    }
}

}  // namespace

std::vector<std::vector<double>> CascadeStageTaps(const std::vector<StageResponse>& stages,
                                                  double sampleInterval, double samplesPerBit) {
    std::vector<std::vector<double>> taps(stages.size());
    if (stages.empty()) return taps;
    const std::size_t bit = SamplesPerBit(samplesPerBit);
    // What a stage leaves out of its slow tail reaches the output through the later stages'
    // low-frequency gain (never taken below 1, as the amplitude curves may restore a level).
    std::vector<double> peak(stages.size(), 1.0);
    for (std::size_t k = 0; k < stages.size(); ++k)
        peak[k] = std::max(std::abs(StageSampler(stages[k])(0.0)), 1.0);
    double later = 1.0;
    MeasureGrid work;
    for (std::size_t k = stages.size(); k-- > 0;) {
        const double limit = kHistoryErrorPerVolt / 4.0 / later;
        const double allowed =
            limit * limit * static_cast<double>(bit) / static_cast<double>(stages.size());
        taps[k] = StageTaps(stages[k], sampleInterval, bit, allowed, work);
        later *= peak[k];
    }
    return taps;
}

}  // namespace v10kx_ami_rx
