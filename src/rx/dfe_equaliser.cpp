#include "rx/dfe_equaliser.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "engine/cdr/cdr_presets.hpp"
#include "rx/clock_times.hpp"
#include "rx/dfe_taps.hpp"

namespace {

// The level the adaptive filters are primed with, and the reference of the code scale.
constexpr double kReferenceLevel = 0.3;
constexpr double kHighestLevelStep = 31;
constexpr double kMaxGain = 75;
// Corner of the smoothing of the feedback, as a rate: exp(-3e11 s^-1 * sample interval).
constexpr double kSmoothingRate = 3e11;
constexpr int kSmoothingWarmUp = 50;

// No feedback change is waiting.
constexpr double kNoSwitch = std::numeric_limits<double>::infinity();

bool PositiveTime(double t) { return t > 0 && std::isfinite(t); }

// A smoothing filter (two coefficients) run on local copies of its coefficients and state for
// the length of a block, with the arithmetic of ConvFilt::Filter in the same order: the general
// filter's loops cost more than the recursion itself, which runs at every sample. The state goes
// back into the filter at the end.
class SmoothingRun {
  public:
    explicit SmoothingRun(ConvFilt& filter)
        : filter_(filter),
          a1_(filter.Denominator()[1]),
          b0_(filter.Numerator()[0]),
          b1_(filter.Numerator()[1]),
          w0_(filter.State()[0]),
          w1_(filter.State()[1]) {}
    ~SmoothingRun() {
        filter_.State()[0] = w0_;
        filter_.State()[1] = w1_;
    }
    SmoothingRun(const SmoothingRun&) = delete;
    SmoothingRun& operator=(const SmoothingRun&) = delete;

    double Filter(double x) {
        w1_ = w0_;
        double v = x;
        v -= a1_ * w1_;
        w0_ = v;
        double y = b0_ * w0_;
        y += b1_ * w1_;
        return y;
    }

  private:
    ConvFilt& filter_;
    double a1_, b0_, b1_;
    double w0_, w1_;
};

}  // namespace

int DecisionFeedbackEqualiser::Setup(const DfeSetup& setup) {
    // A set-up starts a new stream: nothing learnt before carries over, but the recording
    // switches and code tables given beforehand stay.
    const bool recordTaps = recordTaps_;
    const bool recordClock = recordClock_;
    const bool clockTimesOut = clockTimesOut_;
    std::vector<std::vector<double>> codeTables = std::move(codeTables_);
    std::vector<double> instants = std::move(instants_);  // its room, for a DFE set up again
    *this = DecisionFeedbackEqualiser();
    recordTaps_ = recordTaps;
    recordClock_ = recordClock;
    clockTimesOut_ = clockTimesOut;
    codeTables_ = std::move(codeTables);
    instants_ = std::move(instants);
    instants_.clear();
    adaptedWeights_ = setup.adaptedWeights;
    adaptedCodes_ = setup.adaptedCodes;
    adaptedDataLevel_ = setup.adaptedDataLevel;
    learnWhenLocked_ = setup.learnWhenLocked;
    // The clock needs at least a sample per bit to find anything to lock to; with less it
    // would run many events per sample for nothing.
    if (!PositiveTime(setup.sampleInterval) || !PositiveTime(setup.bitTime) ||
        !(setup.bitTime / setup.sampleInterval >= 1.0) ||
        !std::isfinite(setup.bitTime / setup.sampleInterval)) {
        return -1;
    }
    try {
        sampleInterval_ = setup.sampleInterval;
        bitTime_ = setup.bitTime;
        samplesPerBit_ = setup.bitTime / setup.sampleInterval;
        clockOffset_ = setup.clockOffset;
        recoverClock_ = setup.cdrSel == 0;
        CdrLoopSettings clock;
        clock.sampleInterval = sampleInterval_;
        clock.bitTime = bitTime_;
        clock.bandwidthName = CdrBandwidthName(setup.cdrBandwidth);
        clock.recoverClock = recoverClock_;
        cdr_ = std::make_unique<CdrLoop>(clock);
        cdr_->SetRecording(recordClock_);
        pendingClockTimes_.reserve(2 * kMaxPendingClockTimes);
        ready_ = true;

        dataLevel_ = setup.dataLevel;
        levelStep_ = setup.levelStep;
        adaptive_ = setup.adaptive;
        scaleMode_ = setup.scaleMode;
        codes_ = setup.codes;
        tapCount_ = static_cast<std::size_t>(std::max(setup.tapCount, 0));
        if (!setup.active) return 0;

        const std::size_t length =
            tapCount_ + static_cast<std::size_t>(std::max(setup.floatOffset, 0));
        if (setup.limits.size() < tapCount_ || (length > 0 && setup.limits.size() == 0)) return -1;
        // The floating taps past the mapped ones keep the limits of the last mapped tap.
        limits_ = DfeLimits();
        for (std::size_t k = 0; k < length; ++k) {
            const std::size_t from = std::min(k, setup.limits.size() - 1);
            limits_.upperLimit.push_back(setup.limits.upperLimit[from]);
            limits_.lowerLimit.push_back(setup.limits.lowerLimit[from]);
            limits_.codeSpan.push_back(setup.limits.codeSpan[from]);
            limits_.oneSided.push_back(setup.limits.oneSided[from]);
        }
        filter_ = std::make_unique<AdaptFilt>(setup.stepSize, length, limits_.upperLimit,
                                              limits_.lowerLimit);
        filter_->SetWeights(setup.initialWeights);
        for (std::size_t i = 0; i < length; ++i) filter_->Update(-kReferenceLevel, 0.0, false, 1.0);
        feedback_ = filter_->Output();

        // First-order smoothing with unit gain and a sample of delay; the clock's copy of the
        // samples has one of its own.
        const double d = std::exp(-kSmoothingRate * sampleInterval_);
        auto smoothing = [d] {
            return std::make_unique<ConvFilt>(std::vector<double>{0.0, 1.0 - d},
                                              std::vector<double>{1.0, -d},
                                              std::vector<double>{0.0, 0.0});
        };
        smoother_ = smoothing();
        clockSmoother_ = smoothing();
        previousFeedback_ = feedback_;
        heldFeedback_ = feedback_;
        for (int i = 0; i < kSmoothingWarmUp; ++i) {
            smoother_->Filter(feedback_);
            clockSmoother_->Filter(feedback_);
        }
        active_ = true;
        return 0;
    } catch (...) {
        // Out of memory or unusable filter coefficients: the DFE stays off.
        filter_.reset();
        smoother_.reset();
        clockSmoother_.reset();
        active_ = false;
        return -1;
    }
}

void DecisionFeedbackEqualiser::SetRecording(bool tapHistory, bool clockRecords) {
    recordTaps_ = tapHistory;
    recordClock_ = clockRecords;
    if (cdr_) cdr_->SetRecording(clockRecords);
}

void DecisionFeedbackEqualiser::SetAdaptedTaps(std::vector<double> weights,
                                               std::vector<int> codes) {
    adaptedWeights_ = std::move(weights);
    adaptedCodes_ = std::move(codes);
}

void DecisionFeedbackEqualiser::Process(double* samples, std::int64_t count, double blockStartTime,
                                        BlockResult& result) {
    result.clockTimes.clear();
    result.tapHistory.clear();
    result.clockPeriods.clear();
    result.lockFlags.clear();
    // Without the DFE and without clock times out there is nothing to do.
    if (!ready_ || samples == nullptr || count <= 0 || (!active_ && !recoverClock_)) return;
    if (!started_) {
        origin_ = std::isfinite(blockStartTime) ? blockStartTime : 0.0;
        cdr_->SetInitialLevel(samples[0] > 0);
        started_ = true;
    }
    const std::size_t n = static_cast<std::size_t>(count);
    const double blockStart = samplesSeen_;
    instants_.clear();
    if (active_) {
        Equalise(samples, n, blockStart, result);
    } else {
        // Nothing is fed back: the clock follows the block as it is, and a crossing between
        // the last sample of the previous block and the first of this one counts as well, so
        // that the clock does not depend on where the blocks are cut.
        cdr_->BeginBlock();
        double fraction = 0, level = 0;
        if (haveLastOutput_ &&
            FindCrossing(lastOutput_, samples[0], EdgeSelection::All, fraction, level)) {
            cdr_->AddTransition(blockStart - 1.0 + fraction, level);
        }
        transitions_.positions.clear();
        transitions_.levels.clear();
        extractor_.Extract(samples, n, transitions_);
        for (std::size_t i = 0; i < transitions_.positions.size(); ++i) {
            cdr_->AddTransition(transitions_.positions[i] + blockStart, transitions_.levels[i]);
        }
        cdr_->RunUntil(blockStart + static_cast<double>(count - 1), instants_);
        lastOutput_ = samples[n - 1];
        haveLastOutput_ = true;
    }
    EmitClockTimes(count, result.clockTimes);
    if (recordClock_) {
        result.clockPeriods.swap(cdr_->ClockPeriods());
        result.lockFlags.swap(cdr_->LockFlags());
    }
    samplesSeen_ += static_cast<double>(count);
}

void DecisionFeedbackEqualiser::Equalise(double* samples, std::size_t count, double blockStart,
                                         BlockResult& result) {
    // The decisions see the samples after feedback. Each decision's feedback is held from the
    // boundary after its bit (half a bit past its instant) to the next boundary, so the value
    // a bit is decided on never depends on where the samples fall around its instant. The
    // clock sees a second copy from which the mean of the feedback before and after the last
    // decision is subtracted: its edge samples lie between two decisions, where the
    // interference is about halfway between what the feedback cancels at the two; the full
    // feedback of the next bit would bias them (with a strong first post-cursor, enough to run
    // the loop away), no feedback at all would leave the interference that moves the crossings.
    // The loop runs sample by sample, since each sample's feedback follows the decisions made
    // before it.
    cdr_->BeginBlock();
    std::size_t next = 0;
    double previous = haveLastOutput_ ? lastOutput_ : samples[0];
    SmoothingRun smoother(*smoother_);
    SmoothingRun clockSmoother(*clockSmoother_);
    // The state the loop reads at every sample is held in locals: writes through `samples`
    // could otherwise alias it and force a reload each time. Decisions change it; it is read
    // back after them.
    double held = heldFeedback_;
    bool feeding = heldFeeding_;
    double clockFeedback = 0.5 * (feedback_ + previousFeedback_);
    bool clockFeeding = bitCount_ > kEstimationWindow;
    double nextSwitch = switchCount_ > 0 ? switches_[switchHead_].position : kNoSwitch;
    double lastClockSample = lastClockSample_;
    bool haveClockSample = haveLastOutput_;
    double nextEvent = cdr_->NextEvent();
    // What every sample does: the feedback switches due at its position, the smoothing of both
    // copies of the feedback, the subtraction, and whether the clock's copy crossed zero since
    // the sample before. `current` is the sample after feedback.
    auto takeSwitches = [&](double position) {
        while (nextSwitch <= position) {
            const FeedbackSwitch& s = switches_[switchHead_];
            held = s.feedback;
            feeding = s.feeding;
            switchHead_ = (switchHead_ + 1) % kMaxSwitches;
            --switchCount_;
            nextSwitch = switchCount_ > 0 ? switches_[switchHead_].position : kNoSwitch;
        }
    };
    auto equaliseSample = [&](std::size_t at, double& current, double& fraction, double& level) {
        // The feedback is smoothed at every sample (a step at each boundary would be sharper
        // than the circuit), and subtracted once the data level is known.
        const double smoothed = smoother.Filter(held);
        const double clockSmoothed = clockSmoother.Filter(clockFeedback);
        current = samples[at];
        double clockSample = current;
        if (feeding) {
            current -= smoothed;
            samples[at] = current;
        }
        if (clockFeeding) clockSample -= clockSmoothed;
        const bool crossing = haveClockSample && FindCrossing(lastClockSample, clockSample,
                                                              EdgeSelection::All, fraction, level);
        haveClockSample = true;
        lastClockSample = clockSample;
        return crossing;
    };
    std::size_t i = 0;
    while (i < count) {
        // Up to the next clock event or crossing, a sample needs nothing but its own arithmetic
        // and the feedback switches due: that run has no call in it, so its state stays in
        // registers. It does exactly what the full step below does for such a sample.
        bool crossed = false;
        double crossingAt = 0, crossingLevel = 0;
        for (; i < count; ++i) {
            const double position = blockStart + static_cast<double>(i);
            if (!(position < nextEvent)) break;
            takeSwitches(position);
            double current = 0, fraction = 0, level = 0;
            const bool crossing = equaliseSample(i, current, fraction, level);
            previous = current;
            if (crossing) {
                crossed = true;
                crossingAt = position - 1.0 + fraction;
                crossingLevel = level;
                ++i;
                break;
            }
        }
        if (crossed) {
            cdr_->AddTransition(crossingAt, crossingLevel);
            continue;
        }
        if (i == count) break;

        // The full step of a sample: the above, then the clock events due and their decisions.
        const double position = blockStart + static_cast<double>(i);
        takeSwitches(position);
        double current = 0, fraction = 0, level = 0;
        if (equaliseSample(i, current, fraction, level)) {
            cdr_->AddTransition(position - 1.0 + fraction, level);
        }
        if (nextEvent <= position) {
            cdr_->RunUntil(position, instants_);
            for (; next < instants_.size(); ++next) {
                const double at = std::clamp(instants_[next] - (position - 1.0), 0.0, 1.0);
                Decide(previous + at * (current - previous), instants_[next], result);
            }
            nextEvent = cdr_->NextEvent();
            clockFeedback = 0.5 * (feedback_ + previousFeedback_);
            clockFeeding = bitCount_ > kEstimationWindow;
            nextSwitch = switchCount_ > 0 ? switches_[switchHead_].position : kNoSwitch;
        }
        previous = current;
        ++i;
    }
    heldFeedback_ = held;
    heldFeeding_ = feeding;
    lastClockSample_ = lastClockSample;
    lastOutput_ = previous;
    haveLastOutput_ = true;
}

void DecisionFeedbackEqualiser::Decide(double value, double instant, BlockResult& result) {
    const std::uint64_t bit = ++bitCount_;
    // A sample that is not a number still gets a decision (the bit happened), but teaches
    // nothing: the level, the peak and the taps learn only from real values.
    const bool usable = std::isfinite(value);
    const int decision = value > 0 ? 1 : -1;
    const double error = value - decision * dataLevel_;
    if (usable) {
        const double magnitude = std::fabs(value);
        if (bit < kEstimationWindow) {
            levelSum_ += magnitude;
            ++levelBits_;
            if (bit > kLevelStart) {
                const double mean = levelSum_ / static_cast<double>(levelBits_);
                // At least one step: a level of zero would stop the feedback and the learning
                // for good, since both scale with it.
                dataLevel_ =
                    std::clamp(std::round(mean / levelStep_), 1.0, kHighestLevelStep) * levelStep_;
                // The level moves in whole steps: the power is worked out again only when it
                // has moved.
                if (dataLevel_ != gainLevel_) {
                    gainLevel_ = dataLevel_;
                    gain_ = std::min(kMaxGain, std::pow(0.31 / dataLevel_, 3.125));
                }
            }
        }
        if (bit > kLevelStart && bit <= kEstimationWindow) peak_ = std::max(peak_, magnitude);
    }
    if (bit == kEstimationWindow && !adaptive_) LoadFixedTaps();

    const double level = decision * dataLevel_;
    if (bit > kEstimationWindow) {
        // Learning needs the clock to follow the data: a flat input or a loop still slewing
        // teaches nothing but drift. An eye too closed for a lock (which the learning is to
        // open) still teaches, once the loop's votes balance.
        // A clock that does not recover (a fixed clock) has nothing to lock.
        const bool locked =
            learnWhenLocked_ && recoverClock_ ? cdr_->IsTracking() : cdr_->HasEdges();
        const bool learn = usable && adaptive_ && locked;
        filter_->Update(level, learn ? error : 0.0, bit % kApplyEvery == 0, gain_);
    } else {
        // Before the feedback starts the delay line still follows the decisions, so that the
        // first subtracted feedback belongs to the bits just decided.
        filter_->Shift(level);
    }
    previousFeedback_ = feedback_;
    feedback_ = filter_->Output();
    // This bit's feedback takes over at the boundary after it. Only a couple wait at a time
    // (a boundary is half a bit away); should they ever fill the room, the oldest is passed
    // over, the next one superseding it anyway.
    if (switchCount_ == kMaxSwitches) {
        switchHead_ = (switchHead_ + 1) % kMaxSwitches;
        --switchCount_;
    }
    switches_[(switchHead_ + switchCount_) % kMaxSwitches] = {instant + 0.5 * samplesPerBit_,
                                                              feedback_, bit > kEstimationWindow};
    ++switchCount_;
    if (recordTaps_) result.tapHistory.push_back(filter_->Weights());
}

void DecisionFeedbackEqualiser::LoadFixedTaps() {
    if (!(peak_ > 0)) return;
    filter_->SetWeights(FixedTapWeights(peak_));
}

std::vector<int> DecisionFeedbackEqualiser::FixedTapCodes() const {
    std::vector<int> codes(std::min(tapCount_, filter_ ? filter_->Length() : 0), 0);
    for (std::size_t k = 0; k < codes.size() && k < codes_.size(); ++k) codes[k] = codes_[k];
    return codes;
}

std::vector<double> DecisionFeedbackEqualiser::FixedTapWeights(double peak) const {
    if (!filter_ || !(peak > 0)) return {};
    std::vector<double> weights(filter_->Length(), 0.0);
    for (std::size_t k = 0; k < weights.size(); ++k) {
        const int code = k < codes_.size() && k < tapCount_ ? codes_[k] : 0;
        const double w = DfeCodeToWeight(code, limits_.upperLimit[k], limits_.lowerLimit[k],
                                         limits_.codeSpan[k], kReferenceLevel / peak);
        weights[k] = std::clamp(w, limits_.lowerLimit[k], limits_.upperLimit[k]);
    }
    return weights;
}

double DecisionFeedbackEqualiser::CodeScale() const {
    const double reference = scaleMode_ == DfeScaleMode::DataLevel ? dataLevel_ : peak_;
    const double scale = kReferenceLevel / reference;
    // Before the peak is known the codes stand as given.
    return std::isfinite(scale) && scale > 0 ? scale : 1.0;
}

void DecisionFeedbackEqualiser::CurrentTaps(std::vector<double>& weights,
                                            std::vector<int>& codes) const {
    weights.clear();
    codes.clear();
    if (!filter_) return;
    const double scale = CodeScale();
    const std::size_t count = std::min(tapCount_, filter_->Length());
    for (std::size_t k = 0; k < count; ++k) {
        const double w = filter_->Weights()[k];
        weights.push_back(w);
        // Fixed taps are the codes the user set, whatever scale the weights run at.
        if (!adaptive_) {
            codes.push_back(k < codes_.size() ? codes_[k] : 0);
            continue;
        }
        codes.push_back(k < codeTables_.size()
                            ? DfeWeightToCodeByTable(w, codeTables_[k], limits_.oneSided[k], scale)
                            : DfeWeightToCode(w, limits_.upperLimit[k], limits_.lowerLimit[k],
                                              limits_.codeSpan[k], limits_.oneSided[k], scale));
    }
}

void DecisionFeedbackEqualiser::EmitClockTimes(std::int64_t count, std::vector<double>& out) {
    if (!recoverClock_ || !clockTimesOut_) return;
    // A clock time stands half a bit (and half the offset) before the data instant it clocks,
    // one sample later.
    const double lead = (clockOffset_ + samplesPerBit_) / 2;
    for (double instant : instants_) {
        const double early = origin_ + (instant - lead) * sampleInterval_;
        if (early < 0) continue;
        const double t = early + sampleInterval_;
        if (haveClockTime_ && t < lastClockTime_ + 0.5 * bitTime_) continue;
        pendingClockTimes_.push_back(t);
        lastClockTime_ = t;
        haveClockTime_ = true;
    }
    const std::size_t capacity =
        static_cast<std::size_t>(v10kx_ami_rx::ClockTimeCapacity(count, samplesPerBit_));
    const std::size_t take = std::min(capacity, pendingClockTimes_.size());
    out.assign(pendingClockTimes_.begin(),
               pendingClockTimes_.begin() + static_cast<std::ptrdiff_t>(take));
    pendingClockTimes_.erase(pendingClockTimes_.begin(),
                             pendingClockTimes_.begin() + static_cast<std::ptrdiff_t>(take));
    if (pendingClockTimes_.size() > kMaxPendingClockTimes) {
        // Data persistently faster than the blocks' bits: the oldest times cannot be delivered.
        const std::size_t excess = pendingClockTimes_.size() - kMaxPendingClockTimes;
        pendingClockTimes_.erase(pendingClockTimes_.begin(),
                                 pendingClockTimes_.begin() + static_cast<std::ptrdiff_t>(excess));
        if (clockTimesDropped_ == 0) {
            std::printf(
                "WARNING: More clock times than the simulator's buffer holds (one per bit of the "
                "block); the oldest are dropped and counted in clock_times_dropped.\n");
            std::fflush(stdout);
        }
        clockTimesDropped_ += excess;
    }
}
