#include "amisim/td_eye.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace amisim {

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::uint64_t kPictureBits = 4000;
constexpr int kPictureColumns = 256, kPictureRows = 256, kSubSteps = 8;
}  // namespace

TdEye::PhaseStats TdEye::makeStats(std::size_t n) {
    return PhaseStats{std::vector<double>(n, kInf), std::vector<double>(n, -kInf),
                      std::vector<std::uint64_t>(n, 0), std::vector<std::uint64_t>(n, 0)};
}

void TdEye::update(PhaseStats& s, std::size_t i, bool one, double v) {
    ++s.count[i];
    if (one) {
        s.minOne[i] = std::min(s.minOne[i], v);
        if (!(v > 0)) ++s.errors[i];
    } else {
        s.maxZero[i] = std::max(s.maxZero[i], v);
        if (v > 0) ++s.errors[i];
    }
}

TdEye::TdEye(const std::vector<std::uint8_t>& bits, int samplesPerBit, double sampleInterval,
             std::size_t mainIndex, std::uint64_t ignoreBits)
    : bits_(bits),
      spb_(samplesPerBit),
      dt_(sampleInterval),
      bitTime_(samplesPerBit * sampleInterval),
      main_(mainIndex),
      ignore_(ignoreBits) {
    for (int s = -kShifts; s <= kShifts; ++s) {
        phaseStats_.push_back(makeStats(static_cast<std::size_t>(2 * spb_)));
        clockStats_.push_back(makeStats(static_cast<std::size_t>(spb_ + 1)));
    }
    pictureStart_ = ignore_ * static_cast<std::uint64_t>(spb_) + main_;
    pictureStart_ = pictureStart_ > static_cast<std::uint64_t>(spb_)
                        ? pictureStart_ - static_cast<std::uint64_t>(spb_)
                        : 0;
}

void TdEye::addSamplePhases(std::uint64_t first, const std::vector<double>& wave) {
    const std::int64_t spb = spb_;
    const std::int64_t nbits = static_cast<std::int64_t>(bits_.size());
    for (std::size_t i = 0; i < wave.size(); ++i) {
        const std::int64_t rel =
            static_cast<std::int64_t>(first + i) - static_cast<std::int64_t>(main_);
        const std::int64_t k0 = rel >= 0 ? rel / spb : -((-rel + spb - 1) / spb);
        // each sample sits at phase o in [-spb, spb) of bits k0 and k0 + 1
        for (std::int64_t k = k0; k <= k0 + 1; ++k) {
            if (k < static_cast<std::int64_t>(ignore_)) continue;
            const std::int64_t o = rel - k * spb;
            if (o < -spb || o >= spb) continue;
            for (int sh = -kShifts; sh <= kShifts; ++sh) {
                const std::int64_t kb = k + sh;
                if (kb < 0 || kb >= nbits) continue;
                update(phaseStats_[static_cast<std::size_t>(sh + kShifts)],
                       static_cast<std::size_t>(o + spb), bits_[static_cast<std::size_t>(kb)] != 0,
                       wave[i]);
            }
        }
    }
}

double TdEye::valueAt(double t) const {
    const double x = t / dt_ - static_cast<double>(windowStart_);
    if (x < 0 || window_.empty()) return window_.empty() ? 0.0 : window_.front();
    const std::size_t i = static_cast<std::size_t>(x);
    if (i + 1 >= window_.size()) return window_.back();
    const double f = x - static_cast<double>(i);
    return window_[i] + f * (window_[i + 1] - window_[i]);
}

void TdEye::drainClockTimes(bool final) {
    const std::uint64_t windowEnd = windowStart_ + window_.size();
    std::size_t used = 0;
    for (; used < pendingClocks_.size(); ++used) {
        const double tc = pendingClocks_[used] + bitTime_ / 2;  // data instant
        const double lastNeeded = (tc + bitTime_ / 2) / dt_ + 1;
        if (lastNeeded >= static_cast<double>(windowEnd)) {
            if (final) continue;
            break;
        }
        if ((tc - bitTime_ / 2) / dt_ < static_cast<double>(windowStart_)) continue;
        const std::int64_t k = std::llround((tc - static_cast<double>(main_) * dt_) / bitTime_);
        if (k < static_cast<std::int64_t>(ignore_)) continue;
        for (int j = 0; j <= spb_; ++j) {
            const double v = valueAt(tc + (j - spb_ / 2) * dt_);
            for (int sh = -kShifts; sh <= kShifts; ++sh) {
                const std::int64_t kb = k + sh;
                if (kb < 0 || kb >= static_cast<std::int64_t>(bits_.size())) continue;
                update(clockStats_[static_cast<std::size_t>(sh + kShifts)],
                       static_cast<std::size_t>(j), bits_[static_cast<std::size_t>(kb)] != 0, v);
            }
        }
    }
    pendingClocks_.erase(pendingClocks_.begin(), pendingClocks_.begin() + static_cast<long>(used));
}

void TdEye::addBlock(const std::vector<double>& wave, const std::vector<double>& clockTimes) {
    const std::uint64_t first = samplesSeen_;
    addSamplePhases(first, wave);
    samplesSeen_ += wave.size();

    const std::uint64_t picEnd =
        pictureStart_ + (kPictureBits + 2) * static_cast<std::uint64_t>(spb_);
    for (std::size_t i = 0; i < wave.size(); ++i) {
        const std::uint64_t s = first + i;
        if (s >= pictureStart_ && s < picEnd)
            pictureSamples_.push_back(static_cast<float>(wave[i]));
    }

    window_.insert(window_.end(), wave.begin(), wave.end());
    for (double t : clockTimes) {
        ++clockCount_;
        if (firstClock_ < 0) firstClock_ = t;
        lastClock_ = t;
        pendingClocks_.push_back(t);
    }
    drainClockTimes(false);
    // keep what pending clock times and the next block's early clock times may still need
    std::uint64_t keepFrom = samplesSeen_ > 4u * static_cast<std::uint64_t>(spb_)
                                 ? samplesSeen_ - 4u * static_cast<std::uint64_t>(spb_)
                                 : 0;
    if (!pendingClocks_.empty()) {
        const double need = std::max(0.0, pendingClocks_.front() / dt_ - 2.0);
        keepFrom = std::min(keepFrom, static_cast<std::uint64_t>(need));
    }
    if (keepFrom > windowStart_) {
        const std::uint64_t drop = std::min<std::uint64_t>(keepFrom - windowStart_, window_.size());
        window_.erase(window_.begin(), window_.begin() + static_cast<long>(drop));
        windowStart_ += drop;
    }
}

TdEyeResult TdEye::finish() {
    drainClockTimes(true);
    TdEyeResult r;
    r.clockTimes = clockCount_;
    if (clockCount_ > 1)
        r.meanClockPeriod = (lastClock_ - firstClock_) / static_cast<double>(clockCount_ - 1);

    auto opening = [](const PhaseStats& s, std::size_t i) {
        if (std::isinf(s.minOne[i]) || std::isinf(s.maxZero[i])) return -kInf;
        return s.minOne[i] - s.maxZero[i];
    };
    auto counted = [](const PhaseStats& s, std::size_t i) {
        return !std::isinf(s.minOne[i]) || !std::isinf(s.maxZero[i]);
    };

    const std::size_t centreClock = static_cast<std::size_t>(spb_ / 2);
    bool clockData = false;
    for (const PhaseStats& s : clockStats_) clockData = clockData || counted(s, centreClock);
    if (clockData) {
        r.usedClockTimes = true;
        std::size_t best = kShifts;
        for (std::size_t s = 0; s < clockStats_.size(); ++s)
            if (clockStats_[s].errors[centreClock] < clockStats_[best].errors[centreClock])
                best = s;
        const PhaseStats& st = clockStats_[best];
        r.bitShift = static_cast<int>(best) - kShifts;
        r.opening = opening(st, centreClock);
        r.bitErrors = st.errors[centreClock];
        r.sampledBits = st.count[centreClock];
        std::size_t a = centreClock, b = centreClock;
        if (r.opening > 0) {
            while (a > 0 && opening(st, a - 1) > 0) --a;
            while (b + 1 < st.minOne.size() && opening(st, b + 1) > 0) ++b;
            r.eyeWidth = std::min(1.0, static_cast<double>(b - a) / spb_);
        }
    } else {
        // best phase searched within the central unit interval
        double bestOpen = -kInf;
        std::size_t bestShift = kShifts, bestPhase = static_cast<std::size_t>(spb_);
        for (std::size_t s = 0; s < phaseStats_.size(); ++s) {
            for (int o = -spb_ / 2; o < spb_ - spb_ / 2; ++o) {
                const std::size_t i = static_cast<std::size_t>(o + spb_);
                const double op = opening(phaseStats_[s], i);
                if (op > bestOpen || (op == bestOpen && s == static_cast<std::size_t>(kShifts))) {
                    bestOpen = op;
                    bestShift = s;
                    bestPhase = i;
                }
            }
        }
        const PhaseStats& st = phaseStats_[bestShift];
        r.bitShift = static_cast<int>(bestShift) - kShifts;
        r.opening = bestOpen;
        r.bitErrors = st.errors[bestPhase];
        r.sampledBits = st.count[bestPhase];
        r.bestPhaseUi = (static_cast<double>(bestPhase) - spb_) / spb_;
        if (bestOpen > 0) {
            std::size_t a = bestPhase, b = bestPhase;
            while (a > 0 && opening(st, a - 1) > 0) --a;
            while (b + 1 < st.minOne.size() && opening(st, b + 1) > 0) ++b;
            r.eyeWidth = std::min(1.0, static_cast<double>(b - a) / spb_);
        }
    }
    if (std::isinf(r.opening)) r.opening = 0;
    r.eyeHeight = std::max(0.0, r.opening);

    // picture: the kept samples folded onto two unit intervals around the main cursor
    if (pictureSamples_.size() > 1) {
        auto [mn, mx] = std::minmax_element(pictureSamples_.begin(), pictureSamples_.end());
        const double span = std::max(1e-6, static_cast<double>(*mx - *mn));
        r.vMin = *mn - 0.05 * span;
        r.vMax = *mx + 0.05 * span;
        r.pictureColumns = kPictureColumns;
        r.pictureRows = kPictureRows;
        r.picture.assign(static_cast<std::size_t>(kPictureColumns * kPictureRows), 0.0);
        const double twoUi = 2.0 * spb_;
        for (std::size_t i = 0; i + 1 < pictureSamples_.size(); ++i) {
            for (int u = 0; u < kSubSteps; ++u) {
                const double f = static_cast<double>(u) / kSubSteps;
                const double v =
                    pictureSamples_[i] + f * (pictureSamples_[i + 1] - pictureSamples_[i]);
                const double pos =
                    static_cast<double>(pictureStart_ + i) + f - static_cast<double>(main_);
                double x = std::fmod(pos + spb_, twoUi);
                if (x < 0) x += twoUi;
                const int col =
                    std::min(kPictureColumns - 1, static_cast<int>(x / twoUi * kPictureColumns));
                const int row =
                    std::clamp(static_cast<int>((v - r.vMin) / (r.vMax - r.vMin) * kPictureRows), 0,
                               kPictureRows - 1);
                r.picture[static_cast<std::size_t>(col * kPictureRows + row)] += 1.0;
            }
        }
    }
    return r;
}

}  // namespace amisim
