#include "engine/adaptation/eye_measurement.hpp"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
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

// The two passes over the samples, one bit (spb phases) per row. They run over every sample of
// every candidate of a sweep, so they keep their per-phase sums in registers: pairs of phases
// as two-lane vectors, four phases at a time, over tiles of rows that stay in the cache while
// each group of phases is read; the remaining phases (spb not a multiple of 4) go one by one.
using Lanes = double __attribute__((vector_size(16)));
using LaneBits = long long __attribute__((vector_size(16)));
using LaneInts = int __attribute__((vector_size(8)));
constexpr std::size_t kTileRows = 128;

Lanes Load(const double* p) {
    Lanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
void AddTo(double* p, Lanes v) {
    const Lanes sum = Load(p) + v;
    std::memcpy(p, &sum, sizeof sum);
}

// Pass 1: smallest and largest sample per phase, and x - x summed (0 for finite samples, not a
// number once an infinity or a NaN has been met).
// Rows of `spb` samples; the first `phases` of them.
void RangeTile(const double* x, std::size_t rows, std::size_t spb, double* lo, double* hi,
               double* check, std::size_t phases) {
    std::size_t p = 0;
    for (; p + 4 <= phases; p += 4) {
        Lanes loA = Load(lo + p), loB = Load(lo + p + 2);
        Lanes hiA = Load(hi + p), hiB = Load(hi + p + 2);
        Lanes chA{}, chB{};
        for (std::size_t r = 0; r < rows; ++r) {
            const Lanes a = Load(x + r * spb + p), b = Load(x + r * spb + p + 2);
            loA = a < loA ? a : loA;
            loB = b < loB ? b : loB;
            hiA = a > hiA ? a : hiA;
            hiB = b > hiB ? b : hiB;
            chA += a - a;
            chB += b - b;
        }
        std::memcpy(lo + p, &loA, sizeof loA);
        std::memcpy(lo + p + 2, &loB, sizeof loB);
        std::memcpy(hi + p, &hiA, sizeof hiA);
        std::memcpy(hi + p + 2, &hiB, sizeof hiB);
        AddTo(check + p, chA);
        AddTo(check + p + 2, chB);
    }
    for (; p < phases; ++p) {
        for (std::size_t r = 0; r < rows; ++r) {
            const double v = x[r * spb + p];
            lo[p] = v < lo[p] ? v : lo[p];
            hi[p] = v > hi[p] ? v : hi[p];
            check[p] += v - v;
        }
    }
}

// Per-phase sums of pass 2.
struct MomentSums {
    double* sum;
    double* sumSquares;
    double* upperCount;
    double* upperSum;
    double* upperSquares;
};

// Pass 2: the bin index b = trunc((x - lo) * scale), at most 99, of every sample (the scaled
// samples lie in [0, 100], so the conversion is safe); per phase the sums of b and b^2 and, over
// the upper half (b >= 50), the count and the sums of b and b^2.
void MomentTile(const double* x, std::size_t rows, std::size_t spb, const double* lo,
                const double* scale, const MomentSums& out, std::size_t phases) {
    const Lanes top{kHistogramBins - 1, kHistogramBins - 1};
    const Lanes half{kHalfBins, kHalfBins};
    const LaneBits one = reinterpret_cast<LaneBits>(Lanes{1.0, 1.0});
    std::size_t p = 0;
    for (; p + 4 <= phases; p += 4) {
        const Lanes loA = Load(lo + p), loB = Load(lo + p + 2);
        const Lanes scA = Load(scale + p), scB = Load(scale + p + 2);
        Lanes s1A{}, s2A{}, u0A{}, u1A{}, u2A{}, s1B{}, s2B{}, u0B{}, u1B{}, u2B{};
        for (std::size_t r = 0; r < rows; ++r) {
            const double* row = x + r * spb + p;
            Lanes bA = __builtin_convertvector(
                __builtin_convertvector((Load(row) - loA) * scA, LaneInts), Lanes);
            Lanes bB = __builtin_convertvector(
                __builtin_convertvector((Load(row + 2) - loB) * scB, LaneInts), Lanes);
            bA = bA < top ? bA : top;
            bB = bB < top ? bB : top;
            const Lanes upA = reinterpret_cast<Lanes>((bA >= half) & one);
            const Lanes upB = reinterpret_cast<Lanes>((bB >= half) & one);
            const Lanes qA = bA * bA, qB = bB * bB;
            s1A += bA;
            s2A += qA;
            u0A += upA;
            u1A += upA * bA;
            u2A += upA * qA;
            s1B += bB;
            s2B += qB;
            u0B += upB;
            u1B += upB * bB;
            u2B += upB * qB;
        }
        AddTo(out.sum + p, s1A);
        AddTo(out.sum + p + 2, s1B);
        AddTo(out.sumSquares + p, s2A);
        AddTo(out.sumSquares + p + 2, s2B);
        AddTo(out.upperCount + p, u0A);
        AddTo(out.upperCount + p + 2, u0B);
        AddTo(out.upperSum + p, u1A);
        AddTo(out.upperSum + p + 2, u1B);
        AddTo(out.upperSquares + p, u2A);
        AddTo(out.upperSquares + p + 2, u2B);
    }
    for (; p < phases; ++p) {
        for (std::size_t r = 0; r < rows; ++r) {
            const int bin =
                std::min(static_cast<int>((x[r * spb + p] - lo[p]) * scale[p]), kHistogramBins - 1);
            const double b = bin;
            const double up = bin >= kHalfBins ? 1.0 : 0.0;
            out.sum[p] += b;
            out.sumSquares[p] += b * b;
            out.upperCount[p] += up;
            out.upperSum[p] += up * b;
            out.upperSquares[p] += up * b * b;
        }
    }
}

// The same two passes on four-lane vectors, eight phases at a time, where the processor has
// them. Minimum and maximum pick the same sample as the comparisons above (the vector minimum
// keeps its second operand for a NaN or equal values), and the moment sums are sums of whole
// numbers, exact in any order: the results are those of the passes above to the bit.
bool HaveAvx2() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}

[[gnu::target("avx2")]] void RangeTileAvx2(const double* x, std::size_t rows, std::size_t spb,
                                           double* lo, double* hi, double* check) {
    std::size_t p = 0;
    for (; p + 8 <= spb; p += 8) {
        __m256d loA = _mm256_loadu_pd(lo + p), loB = _mm256_loadu_pd(lo + p + 4);
        __m256d hiA = _mm256_loadu_pd(hi + p), hiB = _mm256_loadu_pd(hi + p + 4);
        __m256d chA = _mm256_setzero_pd(), chB = _mm256_setzero_pd();
        for (std::size_t r = 0; r < rows; ++r) {
            const __m256d a = _mm256_loadu_pd(x + r * spb + p);
            const __m256d b = _mm256_loadu_pd(x + r * spb + p + 4);
            loA = _mm256_min_pd(a, loA);
            loB = _mm256_min_pd(b, loB);
            hiA = _mm256_max_pd(a, hiA);
            hiB = _mm256_max_pd(b, hiB);
            chA = _mm256_add_pd(chA, _mm256_sub_pd(a, a));
            chB = _mm256_add_pd(chB, _mm256_sub_pd(b, b));
        }
        _mm256_storeu_pd(lo + p, loA);
        _mm256_storeu_pd(lo + p + 4, loB);
        _mm256_storeu_pd(hi + p, hiA);
        _mm256_storeu_pd(hi + p + 4, hiB);
        _mm256_storeu_pd(check + p, _mm256_add_pd(_mm256_loadu_pd(check + p), chA));
        _mm256_storeu_pd(check + p + 4, _mm256_add_pd(_mm256_loadu_pd(check + p + 4), chB));
    }
    if (p < spb) RangeTile(x + p, rows, spb, lo + p, hi + p, check + p, spb - p);
}

// Adds v to the four sums at p.
[[gnu::target("avx2")]] inline void AddAvx2(double* p, __m256d v) {
    _mm256_storeu_pd(p, _mm256_add_pd(_mm256_loadu_pd(p), v));
}

[[gnu::target("avx2")]] void MomentTileAvx2(const double* x, std::size_t rows, std::size_t spb,
                                            const double* lo, const double* scale,
                                            const MomentSums& out) {
    const __m256d top = _mm256_set1_pd(kHistogramBins - 1);
    const __m256d half = _mm256_set1_pd(kHalfBins);
    const __m256d one = _mm256_set1_pd(1.0);
    std::size_t p = 0;
    for (; p + 8 <= spb; p += 8) {
        const __m256d loA = _mm256_loadu_pd(lo + p), loB = _mm256_loadu_pd(lo + p + 4);
        const __m256d scA = _mm256_loadu_pd(scale + p), scB = _mm256_loadu_pd(scale + p + 4);
        __m256d s1A = _mm256_setzero_pd(), s2A = s1A, u0A = s1A, u1A = s1A, u2A = s1A;
        __m256d s1B = s1A, s2B = s1A, u0B = s1A, u1B = s1A, u2B = s1A;
        for (std::size_t r = 0; r < rows; ++r) {
            const double* row = x + r * spb + p;
            const __m256d bA = _mm256_min_pd(_mm256_cvtepi32_pd(_mm256_cvttpd_epi32(_mm256_mul_pd(
                                                 _mm256_sub_pd(_mm256_loadu_pd(row), loA), scA))),
                                             top);
            const __m256d bB =
                _mm256_min_pd(_mm256_cvtepi32_pd(_mm256_cvttpd_epi32(_mm256_mul_pd(
                                  _mm256_sub_pd(_mm256_loadu_pd(row + 4), loB), scB))),
                              top);
            const __m256d upA = _mm256_and_pd(_mm256_cmp_pd(bA, half, _CMP_GE_OQ), one);
            const __m256d upB = _mm256_and_pd(_mm256_cmp_pd(bB, half, _CMP_GE_OQ), one);
            const __m256d qA = _mm256_mul_pd(bA, bA), qB = _mm256_mul_pd(bB, bB);
            s1A = _mm256_add_pd(s1A, bA);
            s2A = _mm256_add_pd(s2A, qA);
            u0A = _mm256_add_pd(u0A, upA);
            u1A = _mm256_add_pd(u1A, _mm256_mul_pd(upA, bA));
            u2A = _mm256_add_pd(u2A, _mm256_mul_pd(upA, qA));
            s1B = _mm256_add_pd(s1B, bB);
            s2B = _mm256_add_pd(s2B, qB);
            u0B = _mm256_add_pd(u0B, upB);
            u1B = _mm256_add_pd(u1B, _mm256_mul_pd(upB, bB));
            u2B = _mm256_add_pd(u2B, _mm256_mul_pd(upB, qB));
        }
        AddAvx2(out.sum + p, s1A);
        AddAvx2(out.sum + p + 4, s1B);
        AddAvx2(out.sumSquares + p, s2A);
        AddAvx2(out.sumSquares + p + 4, s2B);
        AddAvx2(out.upperCount + p, u0A);
        AddAvx2(out.upperCount + p + 4, u0B);
        AddAvx2(out.upperSum + p, u1A);
        AddAvx2(out.upperSum + p + 4, u1B);
        AddAvx2(out.upperSquares + p, u2A);
        AddAvx2(out.upperSquares + p + 4, u2B);
    }
    if (p < spb) {
        const MomentSums rest{out.sum + p, out.sumSquares + p, out.upperCount + p, out.upperSum + p,
                              out.upperSquares + p};
        MomentTile(x + p, rows, spb, lo + p, scale + p, rest, spb - p);
    }
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

EyeMeter::PhaseAnalysis EyeMeter::AnalysePhases(std::span<const double> window, int samplesPerBit) {
    PhaseAnalysis result;
    const std::size_t rows = WholeBits(window, samplesPerBit);
    const std::size_t whole = rows * static_cast<std::size_t>(std::max(samplesPerBit, 0));
    // Samples past the last whole bit take part in no histogram, but must be numbers too.
    for (std::size_t i = whole; i < window.size(); ++i) {
        if (!std::isfinite(window[i])) return result;
    }
    if (rows == 0) {
        result.usable = true;
        return result;
    }
    const auto spb = static_cast<std::size_t>(samplesPerBit);
    const double* samples = window.data();
    const bool avx2 = HaveAvx2();

    // Pass 1, per phase: the range of the samples, and x - x summed, which is 0 for finite
    // samples and not a number once an infinity or a NaN has been met.
    low_.assign(samples, samples + spb);
    high_.assign(samples, samples + spb);
    check_.assign(spb, 0.0);
    for (std::size_t r = 0; r < rows; r += kTileRows) {
        const std::size_t tile = std::min(kTileRows, rows - r);
        if (avx2) {
            RangeTileAvx2(samples + r * spb, tile, spb, low_.data(), high_.data(), check_.data());
        } else {
            RangeTile(samples + r * spb, tile, spb, low_.data(), high_.data(), check_.data(), spb);
        }
    }
    scale_.resize(spb);
    for (std::size_t p = 0; p < spb; ++p) {
        const double range = high_[p] - low_[p];
        // A finite range also keeps every scaled sample below inside [0, 100].
        if (check_[p] != 0.0 || !std::isfinite(range)) return result;
        scale_[p] = range > 0 ? kHistogramBins / range : 0.0;
    }
    result.usable = true;

    // Pass 2: the bin index of every sample; per phase the sum and sum of squares of the bin
    // indices, and the count, sum and sum of squares over the upper half. Bin indices are whole
    // numbers, so these sums are exact.
    for (auto* v : {&sum_, &sumSquares_, &upperCount_, &upperSum_, &upperSquares_}) {
        v->assign(spb, 0.0);
    }
    const MomentSums sums{sum_.data(), sumSquares_.data(), upperCount_.data(), upperSum_.data(),
                          upperSquares_.data()};
    for (std::size_t r = 0; r < rows; r += kTileRows) {
        const std::size_t tile = std::min(kTileRows, rows - r);
        if (avx2) {
            MomentTileAvx2(samples + r * spb, tile, spb, low_.data(), scale_.data(), sums);
        } else {
            MomentTile(samples + r * spb, tile, spb, low_.data(), scale_.data(), sums, spb);
        }
    }
    int worst = 0;
    double worstFigure = std::numeric_limits<double>::infinity();
    for (std::size_t p = 0; p < spb; ++p) {
        // Indices within each half: the upper half's are the bin index minus 50.
        HalfMoments upper;
        upper.count = upperCount_[p];
        upper.sum = upperSum_[p] - kHalfBins * upper.count;
        upper.sumSquares = upperSquares_[p] - 2.0 * kHalfBins * upperSum_[p] +
                           double{kHalfBins} * kHalfBins * upper.count;
        HalfMoments lower;
        lower.count = static_cast<double>(rows) - upper.count;
        lower.sum = sum_[p] - upperSum_[p];
        lower.sumSquares = sumSquares_[p] - upperSquares_[p];
        const double figure = PhaseFigure(lower, upper);
        if (figure < worstFigure) {
            worstFigure = figure;
            worst = static_cast<int>(p);
        }
    }
    result.phase = (worst + samplesPerBit / 2) % samplesPerBit;
    return result;
}

int EyeMeter::SamplingPhase(std::span<const double> window, int samplesPerBit) {
    return AnalysePhases(window, samplesPerBit).phase;
}

double EyeMeter::Closure(std::span<const double> window, int samplesPerBit) {
    if (samplesPerBit < 1 || window.size() < 2) return 1.0;
    const double spb = samplesPerBit;
    const double binWidth = spb / kCrossingBinsPerUi;
    const double lastEdge = kCrossingBins * binWidth;
    std::array<bool, kCrossingBins> occupied{};
    bool anyCrossing = false;
    // The position i + x[i] / (x[i] - x[i+1]) folded into the unit interval: the phase of i plus
    // the fraction (in [0, 1]), wrapped once. Same value as taking the whole position modulo spb,
    // without the rounding of large positions.
    std::size_t phase = 0;
    const auto wholeSpb = static_cast<std::size_t>(samplesPerBit);
    for (std::size_t i = 0; i + 1 < window.size(); ++i, ++phase) {
        if (phase == wholeSpb) phase = 0;
        const double a = window[i];
        const double b = window[i + 1];
        if ((a > 0) == (b > 0)) continue;
        anyCrossing = true;
        double folded = static_cast<double>(phase) + a / (a - b);
        if (folded >= spb) folded -= spb;
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
    if (window.samplesPerBit < 1) return EyeMetrics{};
    return Measure(waveform, window, AnalysePhases(window.Of(waveform), window.samplesPerBit));
}

EyeMetrics EyeMeter::Measure(std::span<const double> waveform, const EyeWindow& window,
                             const PhaseAnalysis& phases) {
    EyeMetrics m;
    if (window.samplesPerBit < 1 || !phases.usable) return m;
    const std::span<const double> samples = window.Of(waveform);
    m.samplingPhase = phases.phase;
    m.dj = Closure(samples, window.samplesPerBit);
    m.vheight = Height(samples, window.samplesPerBit, m.samplingPhase);
    return m;
}

EyeMetrics MeasureEye(std::span<const double> waveform, std::size_t bits, int samplesPerBit,
                      std::size_t tail) {
    EyeMeter meter;
    return meter.Measure(waveform, EyeWindow{bits, samplesPerBit, tail});
}
