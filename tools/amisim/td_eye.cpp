#include "amisim/td_eye.hpp"

#include <gsl/gsl_cdf.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace amisim {

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::uint64_t kPictureBits = 4000;
constexpr int kPictureColumns = 256, kPictureRows = 256, kSubSteps = 8;

// Counter-based random numbers: bit k's jitter depends on k and the seed only, whatever order
// the bits are sampled in.
std::uint64_t splitmix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

double unitOpen(std::uint64_t x) {  // in (0, 1)
    return (static_cast<double>(x >> 11) + 0.5) * (1.0 / 9007199254740992.0);
}

// The tail fitted on the Q scale: the share of a level nearest the threshold.
constexpr double kTailShare = 0.1;

double openingOf(const auto& c) {
    if (c.n1 == 0 || c.n0 == 0) return -kInf;
    return c.min1 - c.max0;
}
}  // namespace

TdEye::TdEye(const std::vector<bool>& bits, const TdEyeOptions& options)
    : bits_(bits), opt_(options), spb_(std::max(1, options.samplesPerBit)) {
    columns_ = 2 * spb_ + 1;
    if (!(opt_.levelRange > 0)) opt_.levelRange = 1.0;
    ColumnStats empty;
    empty.hist1.assign(kHistogramBins, 0);
    empty.hist0.assign(kHistogramBins, 0);
    for (Sampler* s : {&nominal_, &clocked_})
        s->stats.assign(2 * kShifts + 1,
                        std::vector<ColumnStats>(static_cast<std::size_t>(columns_), empty));
    nextNominalBit_ = opt_.ignoreBits;
    const std::uint64_t centre =
        opt_.ignoreBits * static_cast<std::uint64_t>(spb_) + opt_.mainIndex;
    const std::uint64_t margin = 3u * static_cast<std::uint64_t>(spb_);
    pictureStart_ = centre > margin ? centre - margin : 0;
}

double TdEye::jitterFor(std::int64_t k) {
    double t = 0;
    if (opt_.jitter.rjRms > 0) {
        const std::uint64_t base = splitmix(opt_.seed ^ (static_cast<std::uint64_t>(k) * 2 + 1));
        const double u1 = unitOpen(base), u2 = unitOpen(splitmix(base));
        t += opt_.jitter.rjRms * std::sqrt(-2 * std::log(u1)) * std::cos(2 * std::numbers::pi * u2);
    }
    if (opt_.jitter.dcd > 0) t += (k % 2 == 0) ? opt_.jitter.dcd : -opt_.jitter.dcd;
    const double limit = 0.5 * spb_ * opt_.sampleInterval;
    return std::clamp(t, -limit, limit);
}

double TdEye::valueAt(double pos) const {
    if (window_.empty()) return 0.0;
    const double x = pos - static_cast<double>(windowStart_);
    if (x <= 0) return window_.front();
    const std::size_t i = static_cast<std::size_t>(x);
    if (i + 1 >= window_.size()) return window_.back();
    const double f = x - static_cast<double>(i);
    return window_[i] + f * (window_[i + 1] - window_[i]);
}

void TdEye::sampleBit(Sampler& s, double ref, std::int64_t k) {
    const double shift = jitterFor(k) / opt_.sampleInterval;
    const std::int64_t nbits = static_cast<std::int64_t>(bits_.size());
    const double binScale = kHistogramBins / (2 * opt_.levelRange);
    for (int c = 0; c < columns_; ++c) {
        const double v = valueAt(ref + (c - spb_) + shift);
        const std::size_t bin = static_cast<std::size_t>(
            std::clamp((v + opt_.levelRange) * binScale, 0.0, kHistogramBins - 1.0));
        for (int sh = -kShifts; sh <= kShifts; ++sh) {
            if (s.shift >= 0 && sh + kShifts != s.shift) continue;
            const std::int64_t kb = k + sh;
            if (kb < 0 || kb >= nbits) continue;
            ColumnStats& st =
                s.stats[static_cast<std::size_t>(sh + kShifts)][static_cast<std::size_t>(c)];
            if (bits_[static_cast<std::size_t>(kb)] != 0) {
                st.min1 = st.n1 == 0 ? v : std::min(st.min1, v);
                ++st.n1;
                st.sum1 += v;
                ++st.hist1[bin];
                if (!(v > 0)) ++st.errors;
            } else {
                st.max0 = st.n0 == 0 ? v : std::max(st.max0, v);
                ++st.n0;
                st.sum0 += v;
                ++st.hist0[bin];
                if (v > 0) ++st.errors;
            }
        }
    }
    if (s.pictureRefs.size() < kPictureBits) s.pictureRefs.push_back(ref);
    if (++s.bits == kDecideBits) s.shift = static_cast<int>(choose(s, &s == &clocked_).first);
}

void TdEye::drainNominal() {
    // a receiver that returns clock times is sampled at them only
    if (clockCount_ > 0) return;
    const double end = static_cast<double>(windowStart_ + window_.size());
    const double reach = 1.5 * spb_ + 2;  // two unit intervals plus the largest jitter
    while (nextNominalBit_ < bits_.size()) {
        const double ref =
            static_cast<double>(nextNominalBit_) * spb_ + static_cast<double>(opt_.mainIndex);
        if (ref + reach >= end) break;
        sampleBit(nominal_, ref, static_cast<std::int64_t>(nextNominalBit_));
        ++nextNominalBit_;
    }
}

void TdEye::drainClocks(bool final) {
    const double end = static_cast<double>(windowStart_ + window_.size());
    const double reach = 1.5 * spb_ + 2;
    std::size_t used = 0;
    for (; used < pendingClocks_.size(); ++used) {
        // the data are sampled half a bit after each clock time
        const double ref = pendingClocks_[used] / opt_.sampleInterval + 0.5 * spb_;
        if (ref + reach >= end) {
            if (final) continue;
            break;
        }
        if (ref - reach < static_cast<double>(windowStart_)) continue;
        const std::int64_t k = std::llround((ref - static_cast<double>(opt_.mainIndex)) / spb_);
        if (k < static_cast<std::int64_t>(opt_.ignoreBits)) continue;
        sampleBit(clocked_, ref, k);
    }
    pendingClocks_.erase(pendingClocks_.begin(), pendingClocks_.begin() + static_cast<long>(used));
}

void TdEye::addBlock(const std::vector<double>& wave, const std::vector<double>& clockTimes) {
    const std::uint64_t first = samplesSeen_;
    samplesSeen_ += wave.size();
    const std::uint64_t ignoreFrom =
        opt_.ignoreBits * static_cast<std::uint64_t>(spb_) + opt_.mainIndex;
    const std::uint64_t picEnd =
        pictureStart_ + (kPictureBits + 6) * static_cast<std::uint64_t>(spb_);
    for (std::size_t i = 0; i < wave.size(); ++i) {
        const std::uint64_t s = first + i;
        if (s >= ignoreFrom) peakAbs_ = std::max(peakAbs_, std::abs(wave[i]));
        if (s >= pictureStart_ && s < picEnd)
            pictureSamples_.push_back(static_cast<float>(wave[i]));
    }
    // The window holds a block and a short tail: growing it by exactly what is needed would
    // reallocate (and page in a fresh mapping of a block's size) on nearly every block.
    if (window_.size() + wave.size() > window_.capacity())
        window_.reserve(2 * (window_.size() + wave.size()));
    window_.insert(window_.end(), wave.begin(), wave.end());
    for (double t : clockTimes) {
        ++clockCount_;
        if (firstClock_ < 0) firstClock_ = t;
        lastClock_ = t;
        pendingClocks_.push_back(t);
    }
    drainNominal();
    drainClocks(false);
    // keep what the pending bits and the next block's early clock times may still need
    const std::uint64_t back = 4u * static_cast<std::uint64_t>(spb_);
    std::uint64_t keepFrom = samplesSeen_ > back ? samplesSeen_ - back : 0;
    const double nominalRef =
        static_cast<double>(nextNominalBit_) * spb_ + static_cast<double>(opt_.mainIndex);
    // once clock times arrive the nominal bits are never sampled again (drainNominal), so they
    // must not hold the window: it would keep the whole run's waveform
    if (clockCount_ == 0)
        keepFrom =
            std::min(keepFrom, static_cast<std::uint64_t>(std::max(0.0, nominalRef - 2.0 * spb_)));
    if (!pendingClocks_.empty()) {
        const double need = pendingClocks_.front() / opt_.sampleInterval - 2.0 * spb_;
        keepFrom = std::min(keepFrom, static_cast<std::uint64_t>(std::max(0.0, need)));
    }
    if (keepFrom > windowStart_) {
        const std::uint64_t drop = std::min<std::uint64_t>(keepFrom - windowStart_, window_.size());
        window_.erase(window_.begin(), window_.begin() + static_cast<long>(drop));
        windowStart_ += drop;
    }
}

std::pair<std::size_t, std::size_t> TdEye::choose(const Sampler& s, bool clock) const {
    std::size_t shift = kShifts, col = static_cast<std::size_t>(spb_);
    auto candidate = [&](std::size_t h) { return s.shift < 0 || static_cast<int>(h) == s.shift; };
    if (s.shift >= 0) shift = static_cast<std::size_t>(s.shift);
    if (clock) {
        for (std::size_t h = 0; h < s.stats.size(); ++h)
            if (candidate(h) && s.stats[h][col].errors < s.stats[shift][col].errors) shift = h;
    } else {
        // the widest opening; among equal ones the phase nearest the bit centre, then no shift
        double best = -kInf;
        int bestOffset = 0;
        for (std::size_t h = 0; h < s.stats.size(); ++h) {
            if (!candidate(h)) continue;
            for (int o = -spb_ / 2; o < spb_ - spb_ / 2; ++o) {
                const std::size_t c = static_cast<std::size_t>(o + spb_);
                const double op = openingOf(s.stats[h][c]);
                bool better = false;
                if (!(op > -kInf)) {
                    better = false;  // a column that has not seen both levels
                } else if (!(best > -kInf)) {
                    better = true;
                } else {
                    const double tol = 1e-12 * std::max(1.0, std::abs(best));
                    better = op > best + tol || (std::abs(op - best) <= tol &&
                                                 (std::abs(o) < std::abs(bestOffset) ||
                                                  (std::abs(o) == std::abs(bestOffset) &&
                                                   h == static_cast<std::size_t>(kShifts))));
                }
                if (better) {
                    best = op;
                    bestOffset = o;
                    shift = h;
                    col = c;
                }
            }
        }
    }
    return {shift, col};
}

TdEyeResult TdEye::evaluate(const Sampler& s, bool clock) const {
    TdEyeResult r;
    r.usedClockTimes = clock;
    const auto [shift, col] = choose(s, clock);
    const std::vector<ColumnStats>& st = s.stats[shift];
    const ColumnStats& at = st[col];
    r.bitShift = static_cast<int>(shift) - kShifts;
    r.bestPhaseUi = clock ? 0.0 : (static_cast<double>(col) - spb_) / spb_;
    r.opening = openingOf(at);
    r.bitErrors = at.errors;
    r.sampledBits = at.n1 + at.n0;
    if (r.sampledBits > 0) r.signalLevel = (at.sum1 - at.sum0) / static_cast<double>(r.sampledBits);
    const double need = 2 * opt_.sensitivity;
    if (r.opening > need) {
        std::size_t a = col, b = col;
        while (a > 0 && openingOf(st[a - 1]) > need) --a;
        while (b + 1 < st.size() && openingOf(st[b + 1]) > need) ++b;
        r.eyeWidth = std::min(1.0, static_cast<double>(b - a) / spb_);
    }
    if (std::isinf(r.opening)) r.opening = 0;
    r.eyeHeight = std::max(0.0, r.opening - need);

    for (std::size_t c = 0; c < st.size(); ++c) {
        const ColumnStats& x = st[c];
        const std::uint64_t n = x.n1 + x.n0;
        r.phaseUi.push_back((static_cast<double>(c) - static_cast<double>(col)) / spb_);
        const double op = openingOf(x);
        r.openingByPhase.push_back(std::isinf(op) ? 0.0 : op);
        r.berCounted.push_back(n ? static_cast<double>(x.errors) / static_cast<double>(n) : 0.0);
        const double counted = r.berCounted.back();
        double fit = n ? (static_cast<double>(x.n1) * tailBer(x.hist1, x.n1, true) +
                          static_cast<double>(x.n0) * tailBer(x.hist0, x.n0, false)) /
                             static_cast<double>(n)
                       : 0.0;
        // where errors were counted, the count itself is the better figure
        if (x.errors > 0 || !std::isfinite(fit)) fit = counted;
        r.berExtrapolated.push_back(fit);
    }

    // picture: every kept bit's trace over two unit intervals around its sampling point
    const double offset = clock ? 0.0 : static_cast<double>(col) - spb_;
    if (pictureSamples_.size() > 1 && !s.pictureRefs.empty()) {
        auto [mn, mx] = std::minmax_element(pictureSamples_.begin(), pictureSamples_.end());
        const double span = std::max(1e-6, static_cast<double>(*mx - *mn));
        r.vMin = *mn - 0.05 * span;
        r.vMax = *mx + 0.05 * span;
        r.pictureColumns = kPictureColumns;
        r.pictureRows = kPictureRows;
        r.picture.assign(static_cast<std::size_t>(kPictureColumns * kPictureRows), 0.0);
        const double first = static_cast<double>(pictureStart_);
        const double last = first + static_cast<double>(pictureSamples_.size() - 1);
        for (double ref0 : s.pictureRefs) {
            const double ref = ref0 + offset;
            const double from = std::max(first, std::ceil(ref - spb_));
            const double to = std::min(last, ref + spb_);
            const long steps = static_cast<long>((to - from) * kSubSteps);
            for (long m = 0; m <= steps; ++m) {
                const double p = from + static_cast<double>(m) / kSubSteps;
                const double x = p - first;
                const std::size_t i =
                    std::min(static_cast<std::size_t>(x), pictureSamples_.size() - 2);
                const double f = x - static_cast<double>(i);
                const double v =
                    pictureSamples_[i] + f * (pictureSamples_[i + 1] - pictureSamples_[i]);
                const int c = std::clamp(
                    static_cast<int>((p - (ref - spb_)) / (2.0 * spb_) * kPictureColumns), 0,
                    kPictureColumns - 1);
                const int row =
                    std::clamp(static_cast<int>((v - r.vMin) / (r.vMax - r.vMin) * kPictureRows), 0,
                               kPictureRows - 1);
                r.picture[static_cast<std::size_t>(c * kPictureRows + row)] += 1.0;
            }
        }
    }
    return r;
}

// Error share of one level at the threshold 0 V: its histogram's cumulative share from the
// threshold side, over the inner tail, on the Q scale (Q^-1 of the share), is fitted by a line
// in the voltage, as a Gaussian tail gives, and read at 0 V. NaN when the tail is too thin.
double TdEye::tailBer(const std::vector<std::uint32_t>& hist, std::uint64_t n, bool one) const {
    if (n < 20) return std::nan("");
    const double width = 2 * opt_.levelRange / kHistogramBins;
    std::vector<double> xs, ys;
    std::uint64_t cumulative = 0;
    for (int k = 0; k < kHistogramBins; ++k) {
        // walk from the threshold side: up from the bottom for a "1", down from the top for a "0"
        const int b = one ? k : kHistogramBins - 1 - k;
        cumulative += hist[static_cast<std::size_t>(b)];
        if (cumulative == 0) continue;
        const double share = static_cast<double>(cumulative) / static_cast<double>(n);
        if (share > kTailShare) break;
        const double edge = -opt_.levelRange + (one ? b + 1 : b) * width;  // outer bin edge
        xs.push_back(one ? edge : -edge);  // distance from the threshold, signed
        ys.push_back(gsl_cdf_ugaussian_Qinv(share));
    }
    if (xs.size() < 3) return std::nan("");
    double mx = 0, my = 0;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        mx += xs[i];
        my += ys[i];
    }
    mx /= static_cast<double>(xs.size());
    my /= static_cast<double>(xs.size());
    double sxy = 0, sxx = 0;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        sxy += (xs[i] - mx) * (ys[i] - my);
        sxx += (xs[i] - mx) * (xs[i] - mx);
    }
    if (!(sxx > 0)) return std::nan("");
    const double slope = sxy / sxx;  // a tail thins out away from the level: Q^-1 falls with x
    if (!(slope < 0)) return std::nan("");
    const double atZero = my - slope * mx;
    return gsl_cdf_ugaussian_Q(atZero);
}

TdEyeResult TdEye::finish() {
    drainNominal();
    drainClocks(true);
    const bool clock = clocked_.bits > 0;
    TdEyeResult r = evaluate(clock ? clocked_ : nominal_, clock);
    r.clockTimes = clockCount_;
    if (clockCount_ > 1)
        r.meanClockPeriod = (lastClock_ - firstClock_) / static_cast<double>(clockCount_ - 1);
    r.peakAbs = peakAbs_;
    return r;
}

}  // namespace amisim
