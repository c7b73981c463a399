#include "engine/eye_measurement.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

constexpr int kHistogramBins = 100;
constexpr int kHalfBins = kHistogramBins / 2;
constexpr int kCrossingBinsPerUi = 128;
// Bin edges run from 0 to spb * 127/128, so 127 bins: crossings in the last 1/128 of the unit
// interval fall outside the histogram.
constexpr int kCrossingBins = kCrossingBinsPerUi - 1;
constexpr double kUiPerCrossingBin = 0.0078125;

struct HalfStatistics {
    double mean = 1.0;
    double variance = 0.0;
};

HalfStatistics Statistics(const HalfMoments& half) {
    HalfStatistics s;
    if (half.count > 0) {
        // The moments are integer sums (exact in doubles), so the variance has one rounding.
        s.mean = half.sum / half.count;
        s.variance = std::max(
            0.0, (half.count * half.sumSquares - half.sum * half.sum) / (half.count * half.count));
    }
    return s;
}

std::size_t WholeBits(std::span<const double> window, int samplesPerBit) {
    return samplesPerBit < 1 ? 0 : window.size() / static_cast<std::size_t>(samplesPerBit);
}

// Visits the samples Height and LevelCost read.
template <class Visit>
void ForEachPhaseSample(std::span<const double> window, int samplesPerBit, int phase, Visit visit) {
    if (samplesPerBit < 1) return;
    const auto spb = static_cast<std::size_t>(samplesPerBit);
    if (phase < 0) {
        for (std::size_t i = 0; i < window.size(); i += spb) visit(window[i]);
        return;
    }
    const std::size_t rows = WholeBits(window, samplesPerBit);
    for (std::size_t r = 0; r < rows; ++r) visit(window[r * spb + static_cast<std::size_t>(phase)]);
}

}  // namespace

std::span<const double> EyeWindow::Of(std::span<const double> waveform) const {
    const std::size_t end = waveform.size() > tail ? waveform.size() - tail : 0;
    std::size_t start = 0;
    if (samplesPerBit >= 1 && bits <= end / static_cast<std::size_t>(samplesPerBit)) {
        start = end - bits * static_cast<std::size_t>(samplesPerBit);
    }
    return waveform.subspan(start, end - start);
}

double PhaseFigure(const HalfMoments& lower, const HalfMoments& upper) {
    const HalfStatistics low = Statistics(lower);
    const HalfStatistics high = Statistics(upper);
    const double weight = 0.5;
    const double distance = (kHalfBins + high.mean) - low.mean;
    const double signal =
        (distance * weight) * (distance * weight) + (distance * weight) * (distance * weight);
    const double noise = weight * low.variance + weight * high.variance;
    return noise > 0 ? 10.0 * std::log10(signal / noise) : 100.0;
}

int EyeMeter::SamplingPhase(std::span<const double> window, int samplesPerBit) {
    const std::size_t rows = WholeBits(window, samplesPerBit);
    if (rows == 0) return -1;
    const auto spb = static_cast<std::size_t>(samplesPerBit);

    // Per phase: range of the samples, then the moments of the bin indices in each half. Bin
    // indices are whole numbers, so the sums are exact; the lower half's sums follow from the
    // totals minus the upper half's.
    low_.assign(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(spb));
    high_.assign(low_.begin(), low_.end());
    for (std::size_t r = 1; r < rows; ++r) {
        const double* x = window.data() + r * spb;
        for (std::size_t p = 0; p < spb; ++p) {
            low_[p] = x[p] < low_[p] ? x[p] : low_[p];
            high_[p] = x[p] > high_[p] ? x[p] : high_[p];
        }
    }
    scale_.resize(spb);
    for (std::size_t p = 0; p < spb; ++p) {
        const double range = high_[p] - low_[p];
        scale_[p] = range > 0 ? kHistogramBins / range : 0.0;
    }
    totals_.assign(spb, HalfMoments{});
    upper_.assign(spb, HalfMoments{});
    for (std::size_t r = 0; r < rows; ++r) {
        const double* x = window.data() + r * spb;
        for (std::size_t p = 0; p < spb; ++p) {
            double t = (x[p] - low_[p]) * scale_[p];
            t = t > 0.0 ? t : 0.0;  // also maps NaN to bin 0
            t = t < kHistogramBins - 1 ? t : kHistogramBins - 1;
            const double bin = static_cast<double>(static_cast<int>(t));
            const double up = bin >= kHalfBins ? 1.0 : 0.0;
            const double local = bin - kHalfBins * up;
            totals_[p].sum += local;
            totals_[p].sumSquares += local * local;
            upper_[p].count += up;
            upper_[p].sum += up * local;
            upper_[p].sumSquares += up * local * local;
        }
    }
    int worst = 0;
    double worstFigure = std::numeric_limits<double>::infinity();
    for (std::size_t p = 0; p < spb; ++p) {
        HalfMoments lower;
        lower.count = static_cast<double>(rows) - upper_[p].count;
        lower.sum = totals_[p].sum - upper_[p].sum;
        lower.sumSquares = totals_[p].sumSquares - upper_[p].sumSquares;
        const double figure = PhaseFigure(lower, upper_[p]);
        if (figure < worstFigure) {
            worstFigure = figure;
            worst = static_cast<int>(p);
        }
    }
    return (worst + samplesPerBit / 2) % samplesPerBit;
}

double EyeMeter::Closure(std::span<const double> window, int samplesPerBit) {
    if (samplesPerBit < 1 || window.size() < 2) return 1.0;
    const double spb = samplesPerBit;
    const double binWidth = spb / kCrossingBinsPerUi;
    const double lastEdge = kCrossingBins * binWidth;
    std::array<bool, kCrossingBins> occupied{};
    bool anyCrossing = false;
    for (std::size_t i = 0; i + 1 < window.size(); ++i) {
        const double a = window[i];
        const double b = window[i + 1];
        if ((a > 0) == (b > 0)) continue;
        anyCrossing = true;
        const double position = static_cast<double>(i) + a / (a - b);
        const double folded = std::fmod(position, spb);
        if (!(folded >= 0) || folded > lastEdge) continue;
        const int bin = std::min(static_cast<int>(folded / binWidth), kCrossingBins - 1);
        occupied[static_cast<std::size_t>(bin)] = true;
    }
    if (!anyCrossing) return 1.0;
    // Longest run of empty bins around the circle: the occupancy list twice over, the run
    // capped at one full turn.
    int longest = 0;
    int run = 0;
    for (int k = 0; k < 2 * kCrossingBins; ++k) {
        run = occupied[static_cast<std::size_t>(k % kCrossingBins)] ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    longest = std::min(longest, kCrossingBins);
    return 1.0 - longest * kUiPerCrossingBin;
}

double EyeMeter::Height(std::span<const double> window, int samplesPerBit, int phase) {
    double smallestHigh = std::numeric_limits<double>::infinity();
    double largestLow = -std::numeric_limits<double>::infinity();
    ForEachPhaseSample(window, samplesPerBit, phase, [&](double x) {
        if (x > 0) {
            smallestHigh = std::min(smallestHigh, x);
        } else if (x <= 0) {
            largestLow = std::max(largestLow, x);
        }
    });
    if (std::isinf(smallestHigh) || std::isinf(largestLow)) return 0.0;
    return smallestHigh - largestLow;
}

double EyeMeter::LevelCost(std::span<const double> window, int samplesPerBit, int phase,
                           double target) {
    double cost = 0.0;
    ForEachPhaseSample(window, samplesPerBit, phase, [&](double x) {
        const double e = std::abs(x) - target;
        cost += e * e;
    });
    return cost;
}

EyeMetrics EyeMeter::Measure(std::span<const double> waveform, const EyeWindow& window) {
    EyeMetrics m;
    if (window.samplesPerBit < 1) return m;
    const std::span<const double> samples = window.Of(waveform);
    if (!std::all_of(samples.begin(), samples.end(), [](double x) { return std::isfinite(x); })) {
        return m;
    }
    m.samplingPhase = SamplingPhase(samples, window.samplesPerBit);
    m.dj = Closure(samples, window.samplesPerBit);
    m.vheight = Height(samples, window.samplesPerBit, m.samplingPhase);
    return m;
}

EyeMetrics MeasureEye(std::span<const double> waveform, std::size_t bits, int samplesPerBit,
                      std::size_t tail) {
    EyeMeter meter;
    return meter.Measure(waveform, EyeWindow{bits, samplesPerBit, tail});
}
