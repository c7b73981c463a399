#include "amisim/eye/td_eye.hpp"

#include <gsl/gsl_cdf.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "amisim/eye/trace_painter.hpp"

namespace amisim {

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
// The picture is drawn over 3 UI (so that the best phase, found at the end, can still be
// centred) on a voltage grid finer than the picture's rows.
constexpr int kPictureColumns = 256, kPictureRows = 256;
constexpr int kColumnsPerUi = kPictureColumns / 2, kDrawColumns = 3 * kColumnsPerUi;
constexpr int kFineRows = 1024;
constexpr std::size_t kPictureSize = static_cast<std::size_t>(kFineRows + 1) * kDrawColumns;
constexpr std::uint64_t kMaxDrawnTraces = 200000;  // traces a picture draws at most

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

// The latch at 0 V decides every bit right only when every "1" lies above +sensitivity and
// every "0" below -sensitivity; the eye is then what lies between them less the latch's need.
bool openAroundThreshold(const auto& c, double sensitivity) {
    return c.n1 > 0 && c.n0 > 0 && c.min1 > sensitivity && c.max0 < -sensitivity;
}

double heightAroundThreshold(const auto& c, double sensitivity) {
    return openAroundThreshold(c, sensitivity) ? c.min1 - c.max0 - 2 * sensitivity : 0.0;
}
}  // namespace

double traceScaleDecades(const std::vector<double>& picture) {
    double peak = 1;
    for (double v : picture) peak = std::max(peak, v);
    // a pixel holding one trace sits at log10(1 / peak), which must stay on the scale
    return std::max(1.0, std::ceil(std::log10(peak) + 0.01));
}

TdEye::TdEye(const std::vector<bool>& bits, const TdEyeOptions& options)
    : bits_(bits), opt_(options), spb_(std::max(1, options.samplesPerBit)) {
    columns_ = 2 * spb_ + 1;
    if (!(opt_.levelRange > 0)) opt_.levelRange = 1.0;
    ColumnStats empty;
    empty.hist1.assign(kHistogramBins, 0);
    empty.hist0.assign(kHistogramBins, 0);
    const ColumnStats bare;  // the quarters need no histograms
    for (Sampler* s : {&nominal_, &clocked_}) {
        s->stats.assign(2 * kShifts + 1,
                        std::vector<ColumnStats>(static_cast<std::size_t>(columns_), empty));
        for (auto& q : s->quarters)
            q.assign(2 * kShifts + 1,
                     std::vector<ColumnStats>(static_cast<std::size_t>(columns_), bare));
    }
    nextNominalBit_ = opt_.ignoreBits;
    if (opt_.paintAside) {
        painter_ = std::make_unique<TracePainter>(
            kPictureSize,
            [this](std::uint32_t* picture, const double* samples, double base, double instant) {
                paintTrace(picture, instant,
                           [&](double pos) { return interpolatedAt(samples, base, pos); });
            });
    }
}

TdEye::~TdEye() = default;

int TdEye::quarterOf(std::int64_t k) const {
    const std::uint64_t n = bits_.size(), ignore = opt_.ignoreBits;
    if (k < 0 || n <= ignore) return -1;
    const std::uint64_t m = n - ignore, bit = static_cast<std::uint64_t>(k);
    if (bit >= ignore + 3 * m / 4) return 1;
    if (bit >= ignore + m / 2) return 0;
    return -1;
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
    const int quarter = quarterOf(k);
    auto add = [](ColumnStats& st, double v, bool one) {
        if (one) {
            st.min1 = st.n1 == 0 ? v : std::min(st.min1, v);
            ++st.n1;
            st.sum1 += v;
            if (!(v > 0)) ++st.errors;
        } else {
            st.max0 = st.n0 == 0 ? v : std::max(st.max0, v);
            ++st.n0;
            st.sum0 += v;
            if (v > 0) ++st.errors;
        }
    };
    auto binOf = [&](double v) {
        return static_cast<std::size_t>(
            std::clamp((v + opt_.levelRange) * binScale, 0.0, kHistogramBins - 1.0));
    };
    // every alignment until one is chosen, then that one alone
    const int firstShift = s.shift >= 0 ? s.shift - kShifts : -kShifts;
    const int lastShift = s.shift >= 0 ? s.shift - kShifts : kShifts;
    auto sampleAll = [&](auto value) {
        for (int c = 0; c < columns_; ++c) {
            const double v = value(ref + (c - spb_) + shift);
            const std::size_t bin = binOf(v);
            const std::size_t col = static_cast<std::size_t>(c);
            for (int sh = firstShift; sh <= lastShift; ++sh) {
                const std::int64_t kb = k + sh;
                if (kb < 0 || kb >= nbits) continue;
                const std::size_t h = static_cast<std::size_t>(sh + kShifts);
                ColumnStats& st = s.stats[h][col];
                const bool one = bits_[static_cast<std::size_t>(kb)] != 0;
                add(st, v, one);
                ++(one ? st.hist1 : st.hist0)[bin];
                if (quarter >= 0)
                    add(s.quarters[static_cast<std::size_t>(quarter)][h][col], v, one);
            }
        }
    };
    const std::int64_t chosenBit = k + firstShift;
    if (s.shift >= 0 && chosenBit >= 0 && chosenBit < nbits &&
        covers(ref + (0 - spb_) + shift, ref + (columns_ - 1 - spb_) + shift)) {
        // The usual case once the alignment is chosen, the same work in a plainer loop: one
        // bit, one row of statistics, every column inside the window.
        const bool one = bits_[static_cast<std::size_t>(chosenBit)] != 0;
        const std::size_t h = static_cast<std::size_t>(s.shift);
        ColumnStats* row = s.stats[h].data();
        ColumnStats* quarterRow =
            quarter >= 0 ? s.quarters[static_cast<std::size_t>(quarter)][h].data() : nullptr;
        const double* w = window_.data();
        const double base = static_cast<double>(windowStart_);
        for (int c = 0; c < columns_; ++c) {
            const double v = interpolatedAt(w, base, ref + (c - spb_) + shift);
            const std::size_t bin = binOf(v);
            ColumnStats& st = row[c];
            add(st, v, one);
            ++(one ? st.hist1 : st.hist0)[bin];
            if (quarterRow != nullptr) add(quarterRow[c], v, one);
        }
    } else {
        sampleAll([&](double pos) { return valueAt(pos); });
    }
    // Long runs draw an even sample of their measured bits (every bit up to kMaxDrawnTraces), so
    // the picture costs no more than the models; the measured opening is marked on it.
    if (k >= static_cast<std::int64_t>(opt_.ignoreBits)) {
        const std::uint64_t n = bits_.size(), ignore = opt_.ignoreBits;
        // rounded up: rounded down, a run just short of twice the limit drew nearly twice it
        const std::uint64_t stride =
            n > ignore
                ? std::max<std::uint64_t>(1, (n - ignore + kMaxDrawnTraces - 1) / kMaxDrawnTraces)
                : 1;
        if ((static_cast<std::uint64_t>(k) - ignore) % stride == 0) drawTrace(s, ref + shift);
    }
    s.phaseSum += ref - (static_cast<double>(k) * spb_ + static_cast<double>(opt_.mainIndex));
    if (++s.bits == kDecideBits) s.shift = static_cast<int>(choose(s, &s == &clocked_).first);
}

void TdEye::drainNominal(bool final) {
    // a receiver that returns clock times is sampled at them only
    if (clockCount_ > 0) return;
    const double end = static_cast<double>(windowStart_ + window_.size());
    // two unit intervals plus the largest jitter; the picture's traces take three while the
    // waveform goes on
    const double reach = (final ? 1.5 : 2.0) * spb_ + 2;
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
    const double reach = (final ? 1.5 : 2.0) * spb_ + 2;
    const double earliest = 1.5 * spb_ + 2;
    std::size_t used = 0;
    for (; used < pendingClocks_.size(); ++used) {
        // the data are sampled half a bit after each clock time
        const double ref = pendingClocks_[used] / opt_.sampleInterval + 0.5 * spb_;
        if (ref + reach >= end) {
            if (final) continue;
            break;
        }
        if (ref - earliest < static_cast<double>(windowStart_)) continue;
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
    for (std::size_t i = 0; i < wave.size(); ++i)
        if (first + i >= ignoreFrom) peakAbs_ = std::max(peakAbs_, std::abs(wave[i]));
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
    drainNominal(false);
    drainClocks(false);
    if (painter_) painter_->flush();
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
    if (clock || opt_.fixedPhaseUi) {
        if (!clock)
            col = static_cast<std::size_t>(std::clamp(
                spb_ + static_cast<int>(std::lround(*opt_.fixedPhaseUi * spb_)), 0, columns_ - 1));
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
    r.levelOneMin = at.n1 > 0 ? at.min1 : 0.0;
    r.levelZeroMax = at.n0 > 0 ? at.max0 : 0.0;
    r.bitErrors = at.errors;
    r.sampledBits = at.n1 + at.n0;
    if (r.sampledBits > 0) r.signalLevel = (at.sum1 - at.sum0) / static_cast<double>(r.sampledBits);
    if (s.bits > 0) r.meanPhaseUi = r.bestPhaseUi + s.phaseSum / static_cast<double>(s.bits) / spb_;
    const double sens = opt_.sensitivity;
    if (openAroundThreshold(at, sens)) {
        std::size_t a = col, b = col;
        while (a > 0 && openAroundThreshold(st[a - 1], sens)) --a;
        while (b + 1 < st.size() && openAroundThreshold(st[b + 1], sens)) ++b;
        r.eyeWidth = std::min(1.0, static_cast<double>(b - a) / spb_);
    }
    if (std::isinf(r.opening)) r.opening = 0;
    r.eyeHeight = heightAroundThreshold(at, sens);

    const std::uint64_t n = bits_.size(), ignore = opt_.ignoreBits;
    const std::uint64_t m = n > ignore ? n - ignore : 0;
    for (std::size_t q = 0; q < r.lastQuarters.size(); ++q) {
        const ColumnStats& c = s.quarters[q][shift][col];
        SegmentEye& e = r.lastQuarters[q];
        e.firstBit = ignore + (q == 0 ? m / 2 : 3 * m / 4);
        e.bits = c.n1 + c.n0;
        e.eyeHeight = heightAroundThreshold(c, sens);
        e.levelOneMin = c.n1 > 0 ? c.min1 : 0.0;
        e.levelZeroMax = c.n0 > 0 ? c.max0 : 0.0;
        e.bitErrors = c.errors;
        if (e.bits > 0) e.signalLevel = (c.sum1 - c.sum0) / static_cast<double>(e.bits);
    }

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

    drawPicture(s, clock ? 0.0 : static_cast<double>(col) - spb_, r);
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

// A trace over 3 UI around its sampling instant: in every column it covers the fine rows
// between its lowest and highest value there, and each of those counts it once.
template <class Value>
void TdEye::paintTrace(std::uint32_t* picture, double instant, Value value) const {
    const double rowScale = kFineRows / (2 * opt_.levelRange);
    auto rowOf = [&](double v) {
        return std::clamp(static_cast<int>((v + opt_.levelRange) * rowScale), 0, kFineRows - 1);
    };
    const double width = static_cast<double>(spb_) / kColumnsPerUi;  // samples per column
    const double from = instant - 1.5 * spb_;
    double left = value(from);
    for (int c = 0; c < kDrawColumns; ++c) {
        const double u0 = from + c * width, u1 = u0 + width;
        const double right = value(u1);
        double lo = std::min(left, right), hi = std::max(left, right);
        for (double u = std::floor(u0) + 1; u < u1; u += 1) {
            const double v = value(u);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        // Row by row, so that a trace's neighbouring columns share cache lines.
        ++picture[static_cast<std::size_t>(rowOf(lo)) * kDrawColumns + static_cast<std::size_t>(c)];
        --picture[static_cast<std::size_t>(rowOf(hi) + 1) * kDrawColumns +
                  static_cast<std::size_t>(c)];
        left = right;
    }
}

void TdEye::drawTrace(Sampler& s, double instant) {
    ++s.traces;
    auto picture = [&] {
        if (s.picture.empty()) s.picture.assign(kPictureSize, 0);
        return s.picture.data();
    };
    const double from = instant - 1.5 * spb_, to = instant + 1.5 * spb_ + 1;
    // Nearly every trace lies inside the window: its samples are then read without the checks
    // at the window's ends (the same values), here or, with a copy of them, on the painter's
    // thread. Positions less the first copied sample's are exactly positions less the window's
    // start less a whole number, so the copy gives the same values too.
    if (covers(from, to)) {
        const double start = static_cast<double>(windowStart_);
        if (painter_) {
            const auto first = static_cast<std::size_t>(from - start);
            const auto last = static_cast<std::size_t>(to - start) + 1;
            painter_->add(&s == &clocked_ ? 1 : 0, instant,
                          static_cast<double>(windowStart_ + first), window_.data() + first,
                          last - first + 1);
            return;
        }
        const double* w = window_.data();
        paintTrace(picture(), instant, [&](double pos) { return interpolatedAt(w, start, pos); });
    } else {
        paintTrace(picture(), instant, [&](double pos) { return valueAt(pos); });
    }
}

// The 2 UI around the chosen phase (`offset` samples from the instants the traces were drawn
// around), cropped to the rows the traces reach; a picture row takes the most traces any of
// its fine rows holds, so a single trace stays a single trace.
void TdEye::drawPicture(const Sampler& s, double offset, TdEyeResult& r) const {
    if (s.traces == 0 || s.picture.empty()) return;
    const int first =
        std::clamp(kColumnsPerUi / 2 + static_cast<int>(std::lround(offset / spb_ * kColumnsPerUi)),
                   0, kDrawColumns - kPictureColumns);
    // traces per fine pixel, column by column: the running sums of the rows' differences
    std::vector<std::uint32_t> picture(static_cast<std::size_t>(kDrawColumns) * kFineRows);
    std::vector<std::uint32_t> sum(kDrawColumns, 0);
    for (int row = 0; row < kFineRows; ++row) {
        const std::uint32_t* d = s.picture.data() + static_cast<std::size_t>(row) * kDrawColumns;
        for (int c = 0; c < kDrawColumns; ++c) {
            sum[static_cast<std::size_t>(c)] += d[c];
            picture[static_cast<std::size_t>(c) * kFineRows + static_cast<std::size_t>(row)] =
                sum[static_cast<std::size_t>(c)];
        }
    }
    int lowRow = kFineRows, highRow = -1;
    for (int c = first; c < first + kPictureColumns; ++c)
        for (int row = 0; row < kFineRows; ++row)
            if (picture[static_cast<std::size_t>(c) * kFineRows + row] > 0) {
                lowRow = std::min(lowRow, row);
                highRow = std::max(highRow, row);
            }
    if (highRow < 0) return;
    const int margin = std::max(1, (highRow - lowRow) / 20);
    lowRow = std::max(0, lowRow - margin);
    highRow = std::min(kFineRows - 1, highRow + margin);
    const int used = highRow - lowRow + 1;
    const int merge = (used + kPictureRows - 1) / kPictureRows;
    const int rows = (used + merge - 1) / merge;
    const double fineHeight = 2 * opt_.levelRange / kFineRows;
    r.vMin = -opt_.levelRange + lowRow * fineHeight;
    r.vMax = r.vMin + rows * merge * fineHeight;
    r.pictureColumns = kPictureColumns;
    r.pictureRows = rows;
    r.pictureTraces = s.traces;
    r.picture.assign(static_cast<std::size_t>(kPictureColumns) * static_cast<std::size_t>(rows),
                     0.0);
    for (int c = 0; c < kPictureColumns; ++c) {
        const std::uint32_t* column =
            picture.data() + static_cast<std::size_t>(first + c) * kFineRows;
        for (int row = 0; row < rows; ++row) {
            std::uint32_t most = 0;
            for (int f = lowRow + row * merge; f < std::min(kFineRows, lowRow + (row + 1) * merge);
                 ++f)
                most = std::max(most, column[f]);
            r.picture[static_cast<std::size_t>(c) * static_cast<std::size_t>(rows) +
                      static_cast<std::size_t>(row)] = most;
        }
    }
}

TdEyeResult TdEye::finish() {
    drainNominal(true);
    drainClocks(true);
    if (painter_) {
        std::vector<std::uint32_t>* pictures[TracePainter::kSamplers] = {&nominal_.picture,
                                                                         &clocked_.picture};
        painter_->finishInto(pictures);
    }
    const bool clock = clocked_.bits > 0;
    TdEyeResult r = evaluate(clock ? clocked_ : nominal_, clock);
    r.clockTimes = clockCount_;
    if (clockCount_ > 1)
        r.meanClockPeriod = (lastClock_ - firstClock_) / static_cast<double>(clockCount_ - 1);
    r.peakAbs = peakAbs_;
    return r;
}

}  // namespace amisim
