#include "engine/stages/amplitude_curve_stage.hpp"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

AmplitudeCurveStage::AmplitudeCurveStage(const std::vector<double>& in,
                                         const std::vector<double>& out) {
    if (in.empty() && out.empty()) return;
    if (in.size() != out.size() || in.size() < 2) {
        throw std::invalid_argument(
            "an amplitude curve needs as many outputs as inputs, at least "
            "two; got " +
            std::to_string(in.size()) + " and " + std::to_string(out.size()));
    }
    descending_ = in[1] < in[0];
    for (std::size_t j = 0; j + 1 < in.size(); ++j) {
        const bool ordered = descending_ ? in[j + 1] < in[j] : in[j + 1] > in[j];
        if (!ordered) {
            throw std::invalid_argument(
                "the inputs of an amplitude curve must be strictly "
                "monotonic (point " +
                std::to_string(j + 1) + ")");
        }
    }
    x_ = in;
    y_ = out;
    dx_.resize(in.size() - 1);
    dy_.resize(in.size() - 1);
    for (std::size_t j = 0; j + 1 < in.size(); ++j) {
        dx_[j] = x_[j + 1] - x_[j];
        dy_[j] = y_[j + 1] - y_[j];
    }
    const std::size_t last = in.size() - 1;
    const double step = (x_[last] - x_[0]) / static_cast<double>(last);
    even_ = std::isfinite(step);
    for (std::size_t j = 0; even_ && j <= last; ++j) {
        even_ = std::abs(x_[j] - (x_[0] + static_cast<double>(j) * step)) <= 0.25 * std::abs(step);
    }
    inverseStep_ = 1.0 / step;
}

std::size_t AmplitudeCurveStage::LastReached(double v, std::size_t lo, std::size_t hi) const {
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo + 1) / 2;
        if (Reached(v, mid)) {
            lo = mid;
        } else {
            hi = mid - 1;
        }
    }
    return lo;
}

std::size_t AmplitudeCurveStage::Interval(double v, std::size_t guess) const {
    // A few steps from the guess, then bisection of what is left.
    constexpr int kSteps = 4;
    const std::size_t top = x_.size() - 2;
    std::size_t j = guess;
    if (Reached(v, j)) {
        for (int s = 0; s < kSteps; ++s) {
            if (j == top || !Reached(v, j + 1)) return j;
            ++j;
        }
        return LastReached(v, j, top);
    }
    for (int s = 0; s < kSteps; ++s) {
        if (j == 0) return 0;
        --j;
        if (Reached(v, j)) return j;
    }
    if (j == 0 || !Reached(v, 0)) return 0;
    return LastReached(v, 0, j - 1);
}

void AmplitudeCurveStage::Process(double* samples, std::size_t count) {
    Apply(samples, samples, count);
}

namespace {

// out[i] = y[j] + ((in[i] - x[j]) / dx[j]) * dy[j] with j = index[i]: the interpolation's
// arithmetic once the intervals are known, operation for operation (no fused multiply-add), so
// the vector form gives the same bits as the scalar one.
void EvaluateScalar(const double* in, const std::int32_t* index, const double* x, const double* y,
                    const double* dx, const double* dy, double* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t j = index[i];
        out[i] = y[j] + ((in[i] - x[j]) / dx[j]) * dy[j];
    }
}

[[gnu::target("avx2")]] void EvaluateAvx2(const double* in, const std::int32_t* index,
                                          const double* x, const double* y, const double* dx,
                                          const double* dy, double* out, std::size_t count) {
    // The masked gathers with a defined source: the plain ones start from an undefined register,
    // which GCC 12 warns about.
    const __m256d zero = _mm256_setzero_pd();
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i j = _mm_loadu_si128(reinterpret_cast<const __m128i*>(index + i));
        const __m256d v = _mm256_loadu_pd(in + i);
        const __m256d xj = _mm256_mask_i32gather_pd(zero, x, j, all, 8);
        const __m256d yj = _mm256_mask_i32gather_pd(zero, y, j, all, 8);
        const __m256d dxj = _mm256_mask_i32gather_pd(zero, dx, j, all, 8);
        const __m256d dyj = _mm256_mask_i32gather_pd(zero, dy, j, all, 8);
        const __m256d t = _mm256_div_pd(_mm256_sub_pd(v, xj), dxj);
        _mm256_storeu_pd(out + i, _mm256_add_pd(yj, _mm256_mul_pd(t, dyj)));
    }
    EvaluateScalar(in + i, index + i, x, y, dx, dy, out + i, count - i);
}

// Reached(v, k) of four samples: v at or past x[k] in the table's direction (a NaN reaches
// nothing of an ascending table, as in the scalar comparison). `flip`: all ones when descending.
[[gnu::target("avx2")]] inline __m256d ReachedAvx2(__m256d v, __m256d xk, __m256d flip) {
    return _mm256_xor_pd(_mm256_cmp_pd(v, xk, _CMP_GE_OQ), flip);
}

// The intervals of samples on an evenly spaced table, four at a time, with the decisions of the
// scalar loop in Evaluate: the guess from the spacing, then one step up or down when the sample
// lies beyond it. A lane that would need a further step gets a bit in its group's entry of
// `search` (the caller then searches from the stored interval). Returns how many samples it
// took (a multiple of four).
[[gnu::target("avx2")]] std::size_t EvenIntervalsAvx2(const double* in, std::size_t count,
                                                      const double* x, double origin,
                                                      double inverseStep, std::int32_t top,
                                                      bool descending, std::int32_t* index,
                                                      std::uint8_t* search) {
    const __m256d originV = _mm256_set1_pd(origin);
    const __m256d stepV = _mm256_set1_pd(inverseStep);
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d topD = _mm256_set1_pd(static_cast<double>(top));
    const __m256d zero = _mm256_setzero_pd();
    const __m256d flip = _mm256_castsi256_pd(_mm256_set1_epi64x(descending ? -1 : 0));
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    const __m128i one32 = _mm_set1_epi32(1);
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m256d v = _mm256_loadu_pd(in + i);
        const __m256d position = _mm256_mul_pd(_mm256_sub_pd(v, originV), stepV);
        // Below 1 (or not a number): 0; from the last guess on: top; else its whole part.
        __m256d j = _mm256_blendv_pd(topD, _mm256_round_pd(position, _MM_FROUND_TO_ZERO),
                                     _mm256_cmp_pd(position, topD, _CMP_LT_OQ));
        j = _mm256_and_pd(j, _mm256_cmp_pd(position, one, _CMP_GE_OQ));
        __m128i j32 = _mm256_cvttpd_epi32(j);
        const __m256d up = _mm256_and_pd(
            _mm256_cmp_pd(j, topD, _CMP_LT_OQ),
            ReachedAvx2(v, _mm256_mask_i32gather_pd(zero, x, _mm_add_epi32(j32, one32), all, 8),
                        flip));
        const __m256d down = _mm256_andnot_pd(
            up,
            _mm256_andnot_pd(ReachedAvx2(v, _mm256_mask_i32gather_pd(zero, x, j32, all, 8), flip),
                             _mm256_cmp_pd(j, zero, _CMP_GT_OQ)));
        j = _mm256_sub_pd(_mm256_add_pd(j, _mm256_and_pd(up, one)), _mm256_and_pd(down, one));
        j32 = _mm256_cvttpd_epi32(j);
        const __m256d further = _mm256_or_pd(
            _mm256_and_pd(
                _mm256_and_pd(up, _mm256_cmp_pd(j, topD, _CMP_LT_OQ)),
                ReachedAvx2(v, _mm256_mask_i32gather_pd(zero, x, _mm_add_epi32(j32, one32), all, 8),
                            flip)),
            _mm256_andnot_pd(ReachedAvx2(v, _mm256_mask_i32gather_pd(zero, x, j32, all, 8), flip),
                             _mm256_and_pd(down, _mm256_cmp_pd(j, zero, _CMP_GT_OQ))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(index + i), j32);
        search[i / 4] = static_cast<std::uint8_t>(_mm256_movemask_pd(further));
    }
    return i;
}

bool HaveAvx2() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}

}  // namespace

void AmplitudeCurveStage::Apply(const double* in, double* out, std::size_t count) {
    Evaluate(in, out, count, last_);
}

void AmplitudeCurveStage::Map(const double* in, double* out, std::size_t count) const {
    std::size_t last = 0;
    Evaluate(in, out, count, last);
}

void AmplitudeCurveStage::Evaluate(const double* in, double* out, std::size_t count,
                                   std::size_t& last) const {
    if (x_.empty()) {
        if (in != out) std::copy(in, in + count, out);
        return;
    }
    const double* x = x_.data();
    const double* y = y_.data();
    const double* dx = dx_.data();
    const double* dy = dy_.data();
    if (!even_) {
        for (std::size_t i = 0; i < count; ++i) {
            const double v = in[i];
            const std::size_t j = Interval(v, last);
            last = j;
            out[i] = y[j] + ((v - x[j]) / dx[j]) * dy[j];
        }
        return;
    }
    // Evenly spaced inputs: the spacing puts v in an interval at most one off the one the
    // search finds; a comparison or two settles it (the search itself when it is further off).
    // The intervals of a run of samples first, then their arithmetic, on vector registers where
    // the processor has them.
    const std::size_t top = x_.size() - 2;
    const double lastGuess = static_cast<double>(top);
    const double origin = x[0];
    const bool vector = HaveAvx2() && x_.size() < (std::size_t{1} << 31);
    constexpr std::size_t kRun = 256;
    std::array<std::int32_t, kRun> index;
    std::array<std::uint8_t, kRun / 4> search;
    for (std::size_t start = 0; start < count; start += kRun) {
        const std::size_t run = std::min(kRun, count - start);
        std::size_t r = 0;
        if (vector) {
            r = EvenIntervalsAvx2(in + start, run, x, origin, inverseStep_,
                                  static_cast<std::int32_t>(top), descending_, index.data(),
                                  search.data());
            for (std::size_t g = 0; g < r / 4; ++g) {
                for (std::size_t lane = 0; search[g] != 0 && lane < 4; ++lane) {
                    if ((search[g] >> lane) & 1) {
                        const std::size_t k = 4 * g + lane;
                        index[k] = static_cast<std::int32_t>(
                            Interval(in[start + k], static_cast<std::size_t>(index[k])));
                    }
                }
            }
        }
        for (; r < run; ++r) {
            const double v = in[start + r];
            const double position = (v - origin) * inverseStep_;
            // Also a sample that is not a number starts from the first interval.
            std::size_t j = position >= 1.0
                                ? (position < lastGuess ? static_cast<std::size_t>(position) : top)
                                : 0;
            if (j < top && Reached(v, j + 1)) {
                ++j;
                if (j < top && Reached(v, j + 1)) j = Interval(v, j);
            } else if (j > 0 && !Reached(v, j)) {
                --j;
                if (j > 0 && !Reached(v, j)) j = Interval(v, j);
            }
            index[r] = static_cast<std::int32_t>(j);
        }
        if (vector) {
            EvaluateAvx2(in + start, index.data(), x, y, dx, dy, out + start, run);
        } else {
            EvaluateScalar(in + start, index.data(), x, y, dx, dy, out + start, run);
        }
    }
}
