#include "engine/stages/amplitude_curve_stage.hpp"

#include <immintrin.h>

#include <algorithm>
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
    segments_.resize(dx_.size());
    for (std::size_t j = 0; j < dx_.size(); ++j) segments_[j] = {x_[j], y_[j], dx_[j], dy_[j]};
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
    std::size_t done = 0;
    if (HaveAvx2() && x_.size() < (std::size_t{1} << 31)) done = EvaluateEvenAvx2(in, out, count);
    for (std::size_t i = done; i < count; ++i) {
        const double v = in[i];
        const std::size_t j = EvenInterval(v);
        out[i] = y[j] + ((v - x[j]) / dx[j]) * dy[j];
    }
}

std::size_t AmplitudeCurveStage::EvenInterval(double v) const {
    const std::size_t top = x_.size() - 2;
    const double position = (v - x_[0]) * inverseStep_;
    // Also a sample that is not a number starts from the first interval.
    std::size_t j =
        position >= 1.0
            ? (position < static_cast<double>(top) ? static_cast<std::size_t>(position) : top)
            : 0;
    // One step up or down, worked out without branches (whether a sample lies beyond its guess
    // is as good as random); a further step is all but never needed.
    const bool up = j < top && Reached(v, j + 1);
    const bool down = !up && j > 0 && !Reached(v, j);
    j = j + static_cast<std::size_t>(up) - static_cast<std::size_t>(down);
    if ((up && j < top && Reached(v, j + 1)) || (down && j > 0 && !Reached(v, j))) {
        j = Interval(v, j);
    }
    return j;
}

[[gnu::target("avx2")]] std::size_t AmplitudeCurveStage::EvaluateEvenAvx2(const double* in,
                                                                          double* out,
                                                                          std::size_t count) const {
    const std::size_t top = x_.size() - 2;
    const double* x = x_.data();
    const double* y = y_.data();
    const double* dx = dx_.data();
    const double* dy = dy_.data();
    const Segment* segments = segments_.data();
    const __m256d origin = _mm256_set1_pd(x[0]);
    const __m256d inverseStep = _mm256_set1_pd(inverseStep_);
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d topAsDouble = _mm256_set1_pd(static_cast<double>(top));
    const __m256d zero = _mm256_setzero_pd();
    // Reached(v, k) is (v >= x[k]) flipped for a descending table.
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    const __m256d flip = descending_ ? all : zero;
    alignas(16) std::int32_t j[4];
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m256d v = _mm256_loadu_pd(in + i);
        // The guess, as the scalar search makes it: 0 below the second point (and for a sample
        // that is not a number), the last interval from its start on, else the whole part.
        const __m256d position = _mm256_mul_pd(_mm256_sub_pd(v, origin), inverseStep);
        __m256d guess = _mm256_round_pd(position, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        guess =
            _mm256_blendv_pd(topAsDouble, guess, _mm256_cmp_pd(position, topAsDouble, _CMP_LT_OQ));
        guess = _mm256_and_pd(guess, _mm256_cmp_pd(position, one, _CMP_GE_OQ));
        _mm_store_si128(reinterpret_cast<__m128i*>(j), _mm256_cvttpd_epi32(guess));
        // The four intervals' records, turned into a vector of each field.
        const __m256d r0 = _mm256_loadu_pd(&segments[j[0]].x);
        const __m256d r1 = _mm256_loadu_pd(&segments[j[1]].x);
        const __m256d r2 = _mm256_loadu_pd(&segments[j[2]].x);
        const __m256d r3 = _mm256_loadu_pd(&segments[j[3]].x);
        const __m256d xdx01 = _mm256_unpacklo_pd(r0, r1);  // x0 x1 dx0 dx1
        const __m256d ydy01 = _mm256_unpackhi_pd(r0, r1);  // y0 y1 dy0 dy1
        const __m256d xdx23 = _mm256_unpacklo_pd(r2, r3);
        const __m256d ydy23 = _mm256_unpackhi_pd(r2, r3);
        const __m256d xj = _mm256_permute2f128_pd(xdx01, xdx23, 0x20);
        const __m256d dxj = _mm256_permute2f128_pd(xdx01, xdx23, 0x31);
        const __m256d yj = _mm256_permute2f128_pd(ydy01, ydy23, 0x20);
        const __m256d dyj = _mm256_permute2f128_pd(ydy01, ydy23, 0x31);
        const __m256d next = _mm256_set_pd(x[j[3] + 1], x[j[2] + 1], x[j[1] + 1], x[j[0] + 1]);
        // The guess stands where the scalar search takes no step: the next point not reached
        // (or no next interval), and this one reached (or no interval below).
        const __m256d reachedHere = _mm256_xor_pd(_mm256_cmp_pd(v, xj, _CMP_GE_OQ), flip);
        const __m256d reachedNext = _mm256_xor_pd(_mm256_cmp_pd(v, next, _CMP_GE_OQ), flip);
        const __m256d atTop = _mm256_cmp_pd(guess, topAsDouble, _CMP_EQ_OQ);
        const __m256d atBottom = _mm256_cmp_pd(guess, zero, _CMP_EQ_OQ);
        const __m256d noStepUp = _mm256_or_pd(atTop, _mm256_andnot_pd(reachedNext, all));
        const __m256d noStepDown = _mm256_or_pd(atBottom, reachedHere);
        const __m256d stays = _mm256_and_pd(noStepUp, noStepDown);
        if (_mm256_movemask_pd(stays) == 0xF) {
            // The interpolation's arithmetic, operation for operation (no fused multiply-add).
            const __m256d t = _mm256_div_pd(_mm256_sub_pd(v, xj), dxj);
            _mm256_storeu_pd(out + i, _mm256_add_pd(yj, _mm256_mul_pd(t, dyj)));
        } else {
            for (std::size_t k = i; k < i + 4; ++k) {
                const double value = in[k];
                const std::size_t at = EvenInterval(value);
                out[k] = y[at] + ((value - x[at]) / dx[at]) * dy[at];
            }
        }
    }
    return i;
}
