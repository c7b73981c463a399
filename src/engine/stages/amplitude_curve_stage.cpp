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
    for (std::size_t start = 0; start < count; start += kRun) {
        const std::size_t run = std::min(kRun, count - start);
        for (std::size_t r = 0; r < run; ++r) {
            const double v = in[start + r];
            const double position = (v - origin) * inverseStep_;
            // Also a sample that is not a number starts from the first interval.
            std::size_t j = position >= 1.0
                                ? (position < lastGuess ? static_cast<std::size_t>(position) : top)
                                : 0;
            // One step up or down, worked out without branches (whether a sample lies beyond
            // its guess is as good as random); a further step is all but never needed.
            const bool up = j < top && Reached(v, j + 1);
            const bool down = !up && j > 0 && !Reached(v, j);
            j = j + static_cast<std::size_t>(up) - static_cast<std::size_t>(down);
            if ((up && j < top && Reached(v, j + 1)) || (down && j > 0 && !Reached(v, j))) {
                j = Interval(v, j);
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
