// Waveform processing of the transmitter base: the pre-emphasis tap filter followed by an
// optional first-order low-pass. The impulse response is filtered from silence, and so is the
// first waveform block; every later block continues the state of the block before.
//
// The tap filter is a ConvFilt whose numerator holds five weights spaced one bit apart with
// zeros between them. Running it densely costs 5 * samplesPerBit products per sample; here only
// the non-zero coefficients are applied, over the ConvFilt's own state, with results identical
// to the dense filter bit for bit for finite samples:
//  - every output adds the non-zero products in increasing delay, as the dense sum does; the
//    dense sum's zero products can only decide the sign of a zero result, which is repaired;
//  - the dense denominator (1, 0, ..., 0) subtracts a signed zero per delay, which turns an
//    incoming -0 into +0 whenever an earlier internal value carries a sign bit; the internal
//    values are rebuilt the same way.
// A non-finite sample is where the two differ on purpose: in the dense form 0 * inf poisons the
// internal state and every later output becomes NaN, whereas here it reaches only the outputs
// its five taps touch.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "framework/ami_tx.hpp"

namespace {

struct SparseTaps {
    std::vector<std::ptrdiff_t> delay;  // increasing
    std::vector<double> weight;
};

SparseTaps NonZeroTaps(const std::vector<double>& b) {
    SparseTaps taps;
    for (std::size_t k = 0; k < b.size(); ++k) {
        if (b[k] != 0.0) {
            taps.delay.push_back(static_cast<std::ptrdiff_t>(k));
            taps.weight.push_back(b[k]);
        }
    }
    return taps;
}

// The sums below run on vector registers: two samples at a time with SSE2, four with AVX where
// the processor has it. All give the same bits as the sample-by-sample sum: the vector
// instructions round every product and every sum exactly as the scalar ones do (no fused
// multiply-adds), and each output's terms are added in the same order. The scalar sum is the
// variant of other processors; each variant can be chosen (TapKernel), so that the tests check
// every one of them against the dense filter on any machine that can run it.
bool HaveAvx() {
#if defined(__x86_64__)
    static const bool avx = __builtin_cpu_supports("avx");
    return avx;
#else
    return false;
#endif
}

// The variant a run uses: the one asked for where the machine has it, the best it has otherwise.
TapKernel ResolveKernel(TapKernel kernel) {
#if defined(__x86_64__)
    if (kernel == TapKernel::Scalar || kernel == TapKernel::Sse2) return kernel;
    return HaveAvx() ? TapKernel::Avx : TapKernel::Sse2;
#else
    (void)kernel;
    return TapKernel::Scalar;
#endif
}

bool AnyNegativeZeroScalar(const double* x, std::ptrdiff_t n) {
    bool any = false;
    for (std::ptrdiff_t i = 0; i < n; ++i) any |= x[i] == 0.0 && std::signbit(x[i]);
    return any;
}

template <std::size_t K>
std::ptrdiff_t SumDownScalar(double* x, std::ptrdiff_t lo, std::ptrdiff_t hi,
                             const std::ptrdiff_t* delay, const double* weight, double scale,
                             bool keepPlusZero) {
    for (; hi - 1 >= lo; --hi) {
        const std::ptrdiff_t i = hi - 1;
        double s = weight[0] * x[i - delay[0]];
        for (std::size_t t = 1; t < K; ++t) s += weight[t] * x[i - delay[t]];
        if (s == 0.0 && (!keepPlusZero || std::signbit(s))) return hi;
        x[i] = s * scale;
    }
    return hi;
}

#if defined(__x86_64__)

// Zeros of either sign compare equal to 0.0; masking them in keeps their sign bits, which
// movemask collects.
[[gnu::target("avx")]] bool AnyNegativeZeroAvx(const double* x, std::ptrdiff_t n) {
    const __m256d zero = _mm256_setzero_pd();
    // Two independent accumulators keep the loads, not the chain of ors, the limit.
    __m256d found = zero;
    __m256d found2 = zero;
    std::ptrdiff_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256d v = _mm256_loadu_pd(x + i);
        const __m256d v2 = _mm256_loadu_pd(x + i + 4);
        found = _mm256_or_pd(found, _mm256_and_pd(_mm256_cmp_pd(v, zero, _CMP_EQ_OQ), v));
        found2 = _mm256_or_pd(found2, _mm256_and_pd(_mm256_cmp_pd(v2, zero, _CMP_EQ_OQ), v2));
    }
    for (; i + 4 <= n; i += 4) {
        const __m256d v = _mm256_loadu_pd(x + i);
        found = _mm256_or_pd(found, _mm256_and_pd(_mm256_cmp_pd(v, zero, _CMP_EQ_OQ), v));
    }
    bool any = _mm256_movemask_pd(_mm256_or_pd(found, found2)) != 0;
    for (; i < n; ++i) any |= x[i] == 0.0 && std::signbit(x[i]);
    return any;
}

bool AnyNegativeZeroSse2(const double* x, std::ptrdiff_t n) {
    const __m128d zero = _mm_setzero_pd();
    __m128d found = zero;
    std::ptrdiff_t i = 0;
    for (; i + 2 <= n; i += 2) {
        const __m128d v = _mm_loadu_pd(x + i);
        found = _mm_or_pd(found, _mm_and_pd(_mm_cmpeq_pd(v, zero), v));
    }
    bool any = _mm_movemask_pd(found) != 0;
    for (; i < n; ++i) any |= x[i] == 0.0 && std::signbit(x[i]);
    return any;
}

// Tap sums from the top of [lo, hi) down, in place: x[i] <- scale * sum over t of weight[t] *
// x[i - delay[t]], in increasing t (-0.0 + a is a for every a, so each sum starts from its first
// product). Going down, every vector of outputs reads only samples below its own top, which no
// output has overwritten yet. A vector with a zero output is left unwritten, for the caller to
// give that zero its sign; the return value is the top of what is left. With keepPlusZero, a +0
// output counts as finished: the caller says that the samples read hold their rebuilt values,
// whose +0 sum the dense sum's zero products cannot turn into -0.
//
// lo is at least every delay, so that the tap pointers, based at lo, point into x. They live in
// locals: read through the delay array, the delays would be reloaded after every store, since
// the compiler cannot tell that the stores leave the array alone. Two vectors
// per round give the additions of one something to overlap with. A scale of 1 is not applied:
// the product would return every sum unchanged.
template <std::size_t K>
[[gnu::target("avx"), gnu::always_inline]] inline __m256d TapSumAvx(const __m256d* w,
                                                                    const double* const* src,
                                                                    std::ptrdiff_t i) {
    __m256d s = _mm256_mul_pd(w[0], _mm256_loadu_pd(src[0] + i));
    for (std::size_t t = 1; t < K; ++t) {
        s = _mm256_add_pd(s, _mm256_mul_pd(w[t], _mm256_loadu_pd(src[t] + i)));
    }
    return s;
}

// Lanes of s that hold a zero the caller must see to: the sign bits of the mask.
[[gnu::target("avx"), gnu::always_inline]] inline __m256d HeldZerosAvx(__m256d s,
                                                                       __m256d plusZeroHeld) {
    return _mm256_and_pd(_mm256_cmp_pd(s, _mm256_setzero_pd(), _CMP_EQ_OQ),
                         _mm256_or_pd(s, plusZeroHeld));
}

template <std::size_t K, bool Scaled>
[[gnu::target("avx")]] std::ptrdiff_t SumDownAvxWith(double* x, std::ptrdiff_t lo,
                                                     std::ptrdiff_t hi, const std::ptrdiff_t* delay,
                                                     const double* weight, double scale,
                                                     bool keepPlusZero) {
    if (hi - lo < 4) return hi;
    __m256d w[K];
    const double* src[K];
    for (std::size_t t = 0; t < K; ++t) {
        w[t] = _mm256_set1_pd(weight[t]);
        src[t] = x + (lo - delay[t]);
    }
    const __m256d factor = _mm256_set1_pd(scale);
    const __m256d plusZeroHeld =
        keepPlusZero ? _mm256_setzero_pd() : _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    for (; hi - 8 >= lo; hi -= 8) {
        const __m256d upper = TapSumAvx<K>(w, src, hi - 4 - lo);
        const __m256d lower = TapSumAvx<K>(w, src, hi - 8 - lo);
        const __m256d held =
            _mm256_or_pd(HeldZerosAvx(upper, plusZeroHeld), HeldZerosAvx(lower, plusZeroHeld));
        if (_mm256_movemask_pd(held) != 0) break;  // the loop below finds which one
        _mm256_storeu_pd(x + hi - 4, Scaled ? _mm256_mul_pd(upper, factor) : upper);
        _mm256_storeu_pd(x + hi - 8, Scaled ? _mm256_mul_pd(lower, factor) : lower);
    }
    for (; hi - 4 >= lo; hi -= 4) {
        const __m256d s = TapSumAvx<K>(w, src, hi - 4 - lo);
        if (_mm256_movemask_pd(HeldZerosAvx(s, plusZeroHeld)) != 0) return hi;
        _mm256_storeu_pd(x + hi - 4, Scaled ? _mm256_mul_pd(s, factor) : s);
    }
    return hi;
}

template <std::size_t K>
std::ptrdiff_t SumDownAvx(double* x, std::ptrdiff_t lo, std::ptrdiff_t hi,
                          const std::ptrdiff_t* delay, const double* weight, double scale,
                          bool keepPlusZero) {
    return scale == 1.0 ? SumDownAvxWith<K, false>(x, lo, hi, delay, weight, scale, keepPlusZero)
                        : SumDownAvxWith<K, true>(x, lo, hi, delay, weight, scale, keepPlusZero);
}

template <std::size_t K>
inline __m128d TapSumSse2(const __m128d* w, const double* const* src, std::ptrdiff_t i) {
    __m128d s = _mm_mul_pd(w[0], _mm_loadu_pd(src[0] + i));
    for (std::size_t t = 1; t < K; ++t)
        s = _mm_add_pd(s, _mm_mul_pd(w[t], _mm_loadu_pd(src[t] + i)));
    return s;
}

inline __m128d HeldZerosSse2(__m128d s, __m128d plusZeroHeld) {
    return _mm_and_pd(_mm_cmpeq_pd(s, _mm_setzero_pd()), _mm_or_pd(s, plusZeroHeld));
}

template <std::size_t K, bool Scaled>
std::ptrdiff_t SumDownSse2With(double* x, std::ptrdiff_t lo, std::ptrdiff_t hi,
                               const std::ptrdiff_t* delay, const double* weight, double scale,
                               bool keepPlusZero) {
    if (hi - lo < 2) return hi;
    __m128d w[K];
    const double* src[K];
    for (std::size_t t = 0; t < K; ++t) {
        w[t] = _mm_set1_pd(weight[t]);
        src[t] = x + (lo - delay[t]);
    }
    const __m128d factor = _mm_set1_pd(scale);
    const __m128d plusZeroHeld =
        keepPlusZero ? _mm_setzero_pd() : _mm_castsi128_pd(_mm_set1_epi64x(-1));
    for (; hi - 4 >= lo; hi -= 4) {
        const __m128d upper = TapSumSse2<K>(w, src, hi - 2 - lo);
        const __m128d lower = TapSumSse2<K>(w, src, hi - 4 - lo);
        const __m128d held =
            _mm_or_pd(HeldZerosSse2(upper, plusZeroHeld), HeldZerosSse2(lower, plusZeroHeld));
        if (_mm_movemask_pd(held) != 0) break;
        _mm_storeu_pd(x + hi - 2, Scaled ? _mm_mul_pd(upper, factor) : upper);
        _mm_storeu_pd(x + hi - 4, Scaled ? _mm_mul_pd(lower, factor) : lower);
    }
    for (; hi - 2 >= lo; hi -= 2) {
        const __m128d s = TapSumSse2<K>(w, src, hi - 2 - lo);
        if (_mm_movemask_pd(HeldZerosSse2(s, plusZeroHeld)) != 0) return hi;
        _mm_storeu_pd(x + hi - 2, Scaled ? _mm_mul_pd(s, factor) : s);
    }
    return hi;
}

template <std::size_t K>
std::ptrdiff_t SumDownSse2(double* x, std::ptrdiff_t lo, std::ptrdiff_t hi,
                           const std::ptrdiff_t* delay, const double* weight, double scale,
                           bool keepPlusZero) {
    return scale == 1.0 ? SumDownSse2With<K, false>(x, lo, hi, delay, weight, scale, keepPlusZero)
                        : SumDownSse2With<K, true>(x, lo, hi, delay, weight, scale, keepPlusZero);
}

#endif

// `kernel` is resolved (ResolveKernel).
bool AnyNegativeZero(const double* x, std::ptrdiff_t n, TapKernel kernel) {
#if defined(__x86_64__)
    if (kernel == TapKernel::Avx) return AnyNegativeZeroAvx(x, n);
    if (kernel == TapKernel::Sse2) return AnyNegativeZeroSse2(x, n);
#endif
    (void)kernel;
    return AnyNegativeZeroScalar(x, n);
}

template <std::size_t K>
std::ptrdiff_t SumDown(double* x, std::ptrdiff_t lo, std::ptrdiff_t hi, const std::ptrdiff_t* delay,
                       const double* weight, double scale, bool keepPlusZero, TapKernel kernel) {
#if defined(__x86_64__)
    if (kernel == TapKernel::Avx)
        return SumDownAvx<K>(x, lo, hi, delay, weight, scale, keepPlusZero);
    if (kernel == TapKernel::Sse2) {
        return SumDownSse2<K>(x, lo, hi, delay, weight, scale, keepPlusZero);
    }
#endif
    (void)kernel;
    return SumDownScalar<K>(x, lo, hi, delay, weight, scale, keepPlusZero);
}

// One pass of the tap filter over a block, in place.
class TapFilterRun {
  public:
    TapFilterRun(ConvFilt& filter, double* wave, std::ptrdiff_t n, TapKernel kernel)
        : kernel_(ResolveKernel(kernel)),
          b_(filter.Numerator()),
          w_(filter.State()),
          taps_(NonZeroTaps(b_)),
          wave_(wave),
          n_(n),
          length_(static_cast<std::ptrdiff_t>(b_.size())) {}

    // Filters the block and leaves the ConvFilt's state as the dense filter would.
    void Run(double scale) {
        // The internal values kept as the next state must be rebuilt; elsewhere a negative zero
        // can only change an output that comes out zero, and the first such output settles the
        // samples below it (SettleBelow). A look through the whole of every block took a sixth
        // of the time of a call.
        const std::ptrdiff_t tail = std::max<std::ptrdiff_t>(0, n_ - length_);
        if (AnyNegativeZero(wave_ + tail, n_ - tail, kernel_)) RebuildInternalZeros(n_);
        std::vector<double> next(static_cast<std::size_t>(length_));
        for (std::ptrdiff_t k = 0; k < length_; ++k) next[k] = Internal(n_ - 1 - k);

        switch (taps_.delay.size()) {
            case 1:
                Outputs<1>(scale);
                break;
            case 2:
                Outputs<2>(scale);
                break;
            case 3:
                Outputs<3>(scale);
                break;
            case 4:
                Outputs<4>(scale);
                break;
            case 5:
                Outputs<5>(scale);
                break;
            default:
                // Backwards, so that every output overwrites a sample no later output needs.
                for (std::ptrdiff_t i = n_ - 1; i >= 0; --i) wave_[i] = Output(i) * scale;
        }

        w_.assign(next.begin(), next.end());
    }

  private:
    // Internal value at block index m; before the block it comes from the state.
    double Internal(std::ptrdiff_t m) const { return m >= 0 ? wave_[m] : w_[-1 - m]; }

    // Rebuilds the internal values of block indices [0, end); the state already holds rebuilt
    // ones. Each decision looks only at earlier values, so a prefix comes out as it would as
    // part of the whole block.
    void RebuildInternalZeros(std::ptrdiff_t end) {
        for (std::ptrdiff_t i = 0; i < end; ++i) {
            if (wave_[i] != 0.0 || !std::signbit(wave_[i])) continue;
            for (std::ptrdiff_t k = 1; k < length_; ++k) {
                if (std::signbit(Internal(i - k))) {
                    wave_[i] = 0.0;
                    break;
                }
            }
        }
        settled_ = true;
    }

    // Before a zero output at block index i is finished: the signs of its zero terms are those
    // of the rebuilt values, which differ from the samples only where a sample is -0. The first
    // zero output rebuilds every sample below it if one of them is -0, once for the block, after
    // which +0 outputs need no more care (a silent block is all zero outputs). True when it
    // rebuilt.
    bool SettleBelow(std::ptrdiff_t i) {
        if (settled_) return false;
        settled_ = true;
        if (!AnyNegativeZero(wave_, i + 1, kernel_)) return false;
        RebuildInternalZeros(i + 1);
        return true;
    }

    // A sum of zero products is -0 only when every product is; the dense sum also has the
    // products of the zero coefficients. value(k) is the internal value k samples back.
    template <class Value>
    double ZeroSign(double s, Value value) const {
        if (s != 0.0 || !std::signbit(s)) return s;
        for (std::ptrdiff_t k = 0; k < length_; ++k) {
            if (b_[k] == 0.0 && std::signbit(b_[k]) == std::signbit(value(k))) return 0.0;
        }
        return s;
    }

    double Sum(std::ptrdiff_t i) const {
        double s = -0.0;  // the identity of addition, signed zeros included
        for (std::size_t t = 0; t < taps_.delay.size(); ++t)
            s += taps_.weight[t] * Internal(i - taps_.delay[t]);
        return s;
    }

    double Output(std::ptrdiff_t i) {
        double s = Sum(i);
        if (s == 0.0 && SettleBelow(i)) s = Sum(i);
        return ZeroSign(s, [&](std::ptrdiff_t k) { return Internal(i - k); });
    }

    // The outputs whose taps all lie inside the block are computed in place; the first
    // length_ - 1 reach back into the state and are computed the same way over a copy of the
    // state followed by the start of the block.
    template <std::size_t K>
    void Outputs(double scale) {
        std::array<std::ptrdiff_t, K> delay;
        std::array<double, K> weight;
        for (std::size_t t = 0; t < K; ++t) {
            delay[t] = taps_.delay[t];
            weight[t] = taps_.weight[t];
        }
        const std::ptrdiff_t firstFull = std::min(n_, length_ - 1);
        FullOutputs<K>(wave_, firstFull, n_, delay, weight, scale, true);
        if (firstFull == 0) return;

        // The copy is taken after the samples it holds are rebuilt, so that its zero outputs
        // need no further look.
        if (!settled_ && AnyNegativeZero(wave_, firstFull, kernel_))
            RebuildInternalZeros(firstFull);
        const std::ptrdiff_t history = length_ - 1;
        std::vector<double> head(static_cast<std::size_t>(history + firstFull));
        for (std::ptrdiff_t j = 0; j < history; ++j) head[j] = w_[history - 1 - j];
        std::copy(wave_, wave_ + firstFull, head.begin() + history);
        FullOutputs<K>(head.data(), history, history + firstFull, delay, weight, scale, false);
        std::copy(head.begin() + history, head.end(), wave_);
    }

    // Outputs [lo, hi) of x, where x[lo - length_ + 1] onwards are internal values, from the
    // top down, several at a time; an output that comes out zero is done by hand, with its sign
    // repaired. inBlock: x is the block itself, whose samples may still need rebuilding.
    template <std::size_t K>
    void FullOutputs(double* x, std::ptrdiff_t lo, std::ptrdiff_t hi,
                     const std::array<std::ptrdiff_t, K>& delay,
                     const std::array<double, K>& weight, double scale, bool inBlock) {
        const auto sum = [&](std::ptrdiff_t i) {
            double s = weight[0] * x[i - delay[0]];
            for (std::size_t t = 1; t < K; ++t) s += weight[t] * x[i - delay[t]];
            return s;
        };
        for (; hi > lo; --hi) {
            hi = SumDown<K>(x, lo, hi, delay.data(), weight.data(), scale, settled_ || !inBlock,
                            kernel_);
            if (hi <= lo) break;
            const std::ptrdiff_t i = hi - 1;
            double s = sum(i);
            if (s == 0.0) {
                if (inBlock && SettleBelow(i)) s = sum(i);
                s = ZeroSign(s, [&](std::ptrdiff_t k) { return x[i - k]; });
            }
            x[i] = s * scale;
        }
    }

    const TapKernel kernel_;
    const std::vector<double>& b_;
    std::vector<double>& w_;
    const SparseTaps taps_;
    double* const wave_;
    const std::ptrdiff_t n_;
    const std::ptrdiff_t length_;
    bool settled_ = false;  // the samples below the pass hold their rebuilt internal values
};

}  // namespace

bool TapKernelAvailable(TapKernel kernel) {
#if defined(__x86_64__)
    return kernel != TapKernel::Avx || HaveAvx();
#else
    return kernel == TapKernel::Automatic || kernel == TapKernel::Scalar;
#endif
}

void AmiTx::Init(double* impulse_matrix, long row_size, int /*aggressors*/, double sample_interval,
                 double /*bit_time*/) {
    const std::size_t L = tapWeights.size();
    std::vector<double> den(L, 0.0);
    if (L > 0) den[0] = 1.0;
    firFilter = std::make_unique<ConvFilt>(tapWeights, den, std::vector<double>(L, 0.0));

    const double g = std::exp(-6.283185307179586 * secondFilterCorner * sample_interval);
    secondFilter =
        std::make_unique<ConvFilt>(std::vector<double>{1.0 - g, 0.0}, std::vector<double>{1.0, -g},
                                   std::vector<double>{0.0, 0.0});
    // Only the first column is the impulse response; the aggressor columns stay as they are.
    if (impulse_matrix && row_size > 0) GetWave(impulse_matrix, row_size, nullptr);
    // The impulse (in 1/s) and the waveform (in volts) are different signals: the waveform
    // starts from silence, not from the tail of the impulse still in the delay lines.
    std::fill(firFilter->State().begin(), firFilter->State().end(), 0.0);
    std::fill(secondFilter->State().begin(), secondFilter->State().end(), 0.0);
}

std::int32_t AmiTx::GetWave(double* wave, long wave_size, double* clock_times) {
    if (clock_times) clock_times[0] = -1.0;  // the transmitter recovers no clock
    if (!firFilter || !wave || wave_size <= 0) return 1;

    const bool lowPass = secondFilterCorner != 0;
    TapFilterRun(*firFilter, wave, wave_size, tapKernel).Run(lowPass ? 1.0 : outputScale);
    if (lowPass) {
        for (long i = 0; i < wave_size; ++i) wave[i] = secondFilter->Filter(wave[i]) * outputScale;
    }
    return 1;
}
