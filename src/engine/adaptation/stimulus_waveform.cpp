#include "engine/adaptation/stimulus_waveform.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <numbers>
#include <string>

#include "engine/adaptation/candidate_lanes.hpp"
#include "engine/channel/channel_data_error.hpp"
#include "engine/fft/large_buffer.hpp"
#include "engine/fft/real_fft_plan.hpp"
#include "engine/interpolation/interpolation.hpp"

namespace {

// 20-80 % rise time of the stimulus edges as a fraction of the unit interval, and the ratio of
// the 20-80 % rise time of a Gaussian step to its sigma.
constexpr double kRiseTimeUi = 0.6 / 5;
constexpr double kGaussianRiseSigmas = 1.6832;
// Intervals closer than this (relative) count as the same grid.
constexpr double kSameIntervalTolerance = 1e-9;
// Longest impulse the resampling builds (128 MiB of samples); anything longer would not be a
// channel but an input error, and is refused before memory is taken for it.
constexpr double kMaxResampledLength = 1 << 24;

void checkGrid(const ModelGrid& grid) {
    if (!(grid.bitRate > 0) || !std::isfinite(grid.bitRate)) {
        throw ChannelDataError("the bit rate " + std::to_string(grid.bitRate) +
                               " bit/s is not a positive rate");
    }
    if (grid.samplesPerBit < 1) {
        throw ChannelDataError("the stimulus needs at least one sample per bit, not " +
                               std::to_string(grid.samplesPerBit));
    }
}

}  // namespace

std::vector<double> HoldSymbols(const std::vector<std::int32_t>& symbols, int samplesPerBit,
                                double level) {
    std::vector<double> wave;
    if (samplesPerBit < 1) return wave;
    wave.reserve(symbols.size() * static_cast<std::size_t>(samplesPerBit));
    for (std::int32_t s : symbols) wave.insert(wave.end(), samplesPerBit, s * level);
    return wave;
}

namespace {

// GaussianEdgeFilter into `filter`, of any vector type.
template <class Vector>
void FillGaussianEdgeFilter(std::size_t n, const ModelGrid& grid, Vector& filter) {
    checkGrid(grid);
    Vector centred(n);
    const double sigma = (1.0 / grid.bitRate) * kRiseTimeUi / kGaussianRiseSigmas;
    const double sampling = grid.bitRate * grid.samplesPerBit;
    double largest = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        const double f = (static_cast<double>(k) / static_cast<double>(n) - 0.5) * sampling;
        const double a = 2 * std::numbers::pi * f * sigma;
        centred[k] = std::exp(-0.5 * a * a);
        largest = std::max(largest, centred[k]);
    }
    filter.resize(n);
    for (std::size_t i = 0; i < n; ++i) filter[i] = centred[(i + n / 2) % n] / largest;
}

}  // namespace

std::vector<double> GaussianEdgeFilter(std::size_t n, const ModelGrid& grid) {
    std::vector<double> filter;
    FillGaussianEdgeFilter(n, grid, filter);
    return filter;
}

std::vector<double> ResampleImpulse(const std::vector<double>& impulse, double fromInterval,
                                    double toInterval) {
    if (impulse.size() < 2) {
        std::vector<double> out(impulse);
        for (double& v : out) v *= fromInterval / toInterval;
        return out;
    }
    const double span = static_cast<double>(impulse.size() - 1) * fromInterval;
    const double steps = std::floor(span / toInterval);
    if (!(steps < kMaxResampledLength)) {
        throw ChannelDataError("the impulse response spans " + std::to_string(span) +
                               " s; on a grid of " + std::to_string(toInterval) +
                               " s that is more than " + std::to_string(kMaxResampledLength) +
                               " samples");
    }
    const auto count = static_cast<std::size_t>(steps) + 1;
    std::vector<double> times(impulse.size());
    for (std::size_t j = 0; j < times.size(); ++j) times[j] = static_cast<double>(j) * fromInterval;
    std::vector<double> grid(count);
    for (std::size_t k = 0; k < count; ++k) grid[k] = static_cast<double>(k) * toInterval;
    std::vector<double> out;
    Interpolate(kInterpNr3Linear, times, impulse, grid, out);
    return out;
}

namespace {

// The half of the build that depends on the symbols and the grid only: the held symbols'
// spectrum and the edge shaping of each bin (times dt). A sweep of many corners builds the
// same pattern on the same grid for every instance, so the last one is kept in the process.
struct PatternSpectrum {
    std::vector<std::int32_t> symbols;
    double bitRate = 0;
    int samplesPerBit = 0;
    RealFftBuffer held{0};
    SampleBuffer shaping;
};

struct PatternSpectrumCache {
    std::mutex mutex;
    std::shared_ptr<const PatternSpectrum> last;  // one entry: about 12 MB for the sweep's pattern
};

PatternSpectrumCache& ThePatternSpectrumCache() {
    static PatternSpectrumCache cache;
    return cache;
}

std::shared_ptr<const PatternSpectrum> CachedPattern(const std::vector<std::int32_t>& symbols,
                                                     const ModelGrid& grid) {
    PatternSpectrumCache& cache = ThePatternSpectrumCache();
    const std::lock_guard<std::mutex> lock(cache.mutex);
    const std::shared_ptr<const PatternSpectrum>& p = cache.last;
    if (p && p->bitRate == grid.bitRate && p->samplesPerBit == grid.samplesPerBit &&
        p->symbols == symbols) {
        return p;
    }
    return nullptr;
}

std::shared_ptr<const PatternSpectrum> MakePattern(const std::vector<std::int32_t>& symbols,
                                                   const ModelGrid& grid, const RealFftPlan& plan) {
    const std::size_t n = plan.Size();
    auto pattern = std::make_shared<PatternSpectrum>();
    pattern->symbols = symbols;
    pattern->bitRate = grid.bitRate;
    pattern->samplesPerBit = grid.samplesPerBit;
    pattern->held = RealFftBuffer(n);
    double* held = pattern->held.Samples();
    const auto spb = static_cast<std::size_t>(grid.samplesPerBit);
    for (std::size_t b = 0; b < symbols.size(); ++b) {
        std::fill(held + b * spb, held + (b + 1) * spb, symbols[b] * kStimulusLevel);
    }
    plan.Forward(pattern->held);
    SampleBuffer edges;
    FillGaussianEdgeFilter(n, grid, edges);
    const double dt = grid.SampleInterval();
    pattern->shaping.resize(pattern->held.BinCount());
    for (std::size_t k = 0; k < pattern->shaping.size(); ++k) {
        pattern->shaping[k] = 0.5 * (edges[k] + edges[(n - k) % n]) * dt;
    }
    return pattern;
}

void KeepPattern(std::shared_ptr<const PatternSpectrum> pattern) {
    PatternSpectrumCache& cache = ThePatternSpectrumCache();
    const std::lock_guard<std::mutex> lock(cache.mutex);
    cache.last = std::move(pattern);
}

}  // namespace

std::vector<double> BuildReceivedWaveform(const std::vector<std::int32_t>& symbols,
                                          const ModelGrid& grid, const std::vector<double>& impulse,
                                          double impulseInterval, std::size_t lanes) {
    checkGrid(grid);
    if (!(impulseInterval > 0) || !std::isfinite(impulseInterval)) {
        throw ChannelDataError("the impulse response's sample interval " +
                               std::to_string(impulseInterval) + " s is not a positive time");
    }
    for (std::size_t j = 0; j < impulse.size(); ++j) {
        if (!std::isfinite(impulse[j])) {
            throw ChannelDataError(
                "the impulse response holds a value that is not a finite "
                "number at sample " +
                std::to_string(j));
        }
    }
    const std::size_t n = symbols.size() * static_cast<std::size_t>(grid.samplesPerBit);
    if (n == 0) return {};
    if (n > std::numeric_limits<std::int32_t>::max()) {
        throw ChannelDataError("a stimulus of " + std::to_string(n) +
                               " samples is too long to transform");
    }
    const double dt = grid.SampleInterval();

    const bool sameGrid =
        std::abs(impulseInterval - dt) <= kSameIntervalTolerance * std::max(impulseInterval, dt);
    // The whole build on large-buffer memory: it is a few stimulus lengths of fresh memory.
    const RealFftPlan plan(n);
    RealFftBuffer channel(n);
    auto channelSpectrum = [&] {
        const std::vector<double> onGrid =
            sameGrid ? impulse : ResampleImpulse(impulse, impulseInterval, dt);
        // The stimulus repeats every n samples, so an impulse longer than that wraps around.
        double* folded = channel.Samples();
        for (std::size_t j = 0; j < onGrid.size(); ++j) folded[j % n] += onGrid[j];
        plan.Forward(channel);
    };
    std::shared_ptr<const PatternSpectrum> pattern = CachedPattern(symbols, grid);
    if (pattern) {
        channelSpectrum();
    } else {
        // The two spectra are independent: the pattern's is made on a second lane when there
        // is one.
        RunInLanes(2, lanes, [&](std::size_t task, std::size_t) {
            if (task == 0) {
                channelSpectrum();
            } else {
                pattern = MakePattern(symbols, grid, plan);
            }
        });
        KeepPattern(pattern);
    }

    RealFftBuffer product(n);
    std::complex<double>* y = product.Bins();
    const std::complex<double>* x = pattern->held.Bins();
    const std::complex<double>* h = channel.Bins();
    const double* shaping = pattern->shaping.data();
    for (std::size_t k = 0; k < product.BinCount(); ++k) {
        const double xr = x[k].real(), xi = x[k].imag();
        const double hr = h[k].real(), hi = h[k].imag();
        y[k] = {(xr * hr - xi * hi) * shaping[k], (xr * hi + xi * hr) * shaping[k]};
    }
    plan.Inverse(product);
    const double scale = 1.0 / static_cast<double>(n);
    std::vector<double> waveform(product.Samples(), product.Samples() + n);
    for (double& v : waveform) v *= scale;
    return waveform;
}
