#include "engine/cdr/cdr_loop.hpp"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
// An event further than this from its scheduled phase counts as a miss.
constexpr double kPhaseWindow = 0.6283185307179586;
// The VCO's frequency is clamped to its range in hertz. When the timing a simulator passes
// puts that whole range far from the data rate (a sample interval of 1e308 s, say), the clock's
// half period in samples can round to nothing and the next event would never move: keep events
// at least this many bits apart. A VCO that can reach the data rate stays far above it (its top
// frequency is a few tens of times the slowest legal rate), so real links never meet the floor.
constexpr double kMinHalfPeriodBits = 1e-3;

// std::remainder(x, 2 pi) without the library call for the phases the loop meets, in
// [-pi, 2 pi]: there the quotient rounds to 0 or 1 (ties to even: 0 at +-pi) and x - 2 pi is
// exact, so the result is the library's to the bit.
double RemainderOfTurn(double x) {
    if (x >= -kPi && x <= kTwoPi) return x > kPi ? x - kTwoPi : x;
    return std::remainder(x, kTwoPi);
}

}  // namespace

CdrLoop::CdrLoop(const CdrLoopSettings& settings)
    : sampleInterval_(settings.sampleInterval),
      samplesPerBit_(settings.bitTime / settings.sampleInterval),
      recoverClock_(settings.recoverClock),
      preset_(SelectCdrPreset(1.0 / settings.bitTime, settings.bandwidthName)),
      filter_(preset_.resistance, preset_.c1, preset_.c2) {
    // The VCO runs at the output divider times the bit rate, so that the divided clock has one
    // edge per bit.
    StartVco(vco_, preset_.outputDivider / settings.bitTime, preset_);
    filter_.Start(VcoControlVoltage(vco_, vco_.frequency_after));
    // The first data sample lies half a bit after the start, half a cycle away.
    vco_.phase = kPi;
    nextEvent_ = 0.5 * samplesPerBit_;
}

double CdrLoop::ClockFrequency() const {
    return vco_.frequency_after / vco_.divider / vco_.integer_divider;
}

void CdrLoop::SetRecording(bool on) {
    recording_ = on;
    if (!on) {
        // Give the memory back, not just the contents.
        std::vector<double>().swap(periods_);
        std::vector<int>().swap(lockFlags_);
        std::vector<std::pair<double, double>>().swap(log_);
    }
}

void CdrLoop::ConsumeTransitionsBefore(double position) {
    while (cursor_ < pending_.size() && pending_[cursor_].position < position) {
        // A crossing's level is the sign before it; the signal is on the other side after.
        level_ = pending_[cursor_].level < 0 ? 1 : 0;
        lastTransition_ = pending_[cursor_].position;
        transitionSinceData_ = true;
        ++cursor_;
    }
    // Drop what has been passed, so that a signal crossing at every sample cannot grow the list.
    if (cursor_ == pending_.size()) {
        pending_.clear();
        cursor_ = 0;
    } else if (cursor_ >= 1024) {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(cursor_));
        cursor_ = 0;
    }
}

void CdrLoop::SetInitialLevel(bool high) {
    if (started_) return;
    level_ = high ? 1 : 0;
    started_ = true;
}

void CdrLoop::BeginBlock() {
    messages_.Rearm();
    periods_.clear();
    lockFlags_.clear();
    log_.clear();
}

void CdrLoop::Run(const TransitionList& transitions, double blockEnd, std::vector<double>& edges) {
    SetInitialLevel(transitions.initial_polarity > 0);
    BeginBlock();
    for (std::size_t i = 0; i < transitions.positions.size(); ++i) {
        AddTransition(transitions.positions[i], transitions.levels[i]);
    }
    RunUntil(blockEnd, edges);
}

void CdrLoop::Step(std::vector<double>& edges) {
    const double event = nextEvent_;
    if (recoverClock_) {
        const double seconds = (event - lastEvent_) * sampleInterval_;
        if (current_ != 0) {
            filter_.Charge(current_, seconds);
        } else {
            filter_.Hold(seconds);
        }
        AdvanceVcoPhase(vco_, event, lastEvent_, 1.0, 1.0 / sampleInterval_, messages_);
        // Data events sit on whole cycles, edge events half a cycle later; rounding is put
        // right here so that it cannot accumulate.
        const double scheduled = dataStep_ ? 0.0 : kPi;
        const double offset = RemainderOfTurn(vco_.phase - scheduled);
        if (std::fabs(offset) < kPhaseWindow) {
            vco_.phase = scheduled;
        } else {
            ++misses_;
        }
    }

    if (dataStep_) {
        const std::int32_t output = detector_.DataStep(level_, ClockFrequency());
        current_ = output * preset_.chargePumpCurrent;
        if (recording_ && transitionSinceData_) log_.emplace_back(lastEdgeSample_, lastTransition_);
        lock_.AddDataEvent(transitionSinceData_,
                           (lastTransition_ - lastEdgeSample_) / samplesPerBit_, output);
        transitionSinceData_ = false;
        edges.push_back(event);
        hasEdges_ = true;
        if (recording_ && lastEdge_ >= 0) {
            periods_.push_back((event - lastEdge_) * sampleInterval_);
            lockFlags_.push_back(lock_.IsLocked() ? 1 : 0);
        }
        lastEdge_ = event;
    } else {
        detector_.EdgeStep(level_);
        lastEdgeSample_ = event;
    }

    double halfPeriod = 0.5 * samplesPerBit_;
    if (recoverClock_) {
        vco_.frequency_before = vco_.frequency_after;
        vco_.frequency_after = VcoFrequency(vco_, filter_.ControlVoltage());
        halfPeriod =
            std::max(0.5 / ClockFrequency() / sampleInterval_, kMinHalfPeriodBits * samplesPerBit_);
    }
    lastEvent_ = event;
    nextEvent_ = event + halfPeriod;
    dataStep_ = !dataStep_;
}
