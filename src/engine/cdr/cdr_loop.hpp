#pragma once
// cdr/: clock recovery (transitions, phase detector, loop filter, VCO, loop, lock detector).
//
// The clock-recovery loop of one receiver: an Alexander phase detector driving a charge pump,
// a second-order loop filter and a VCO, run over the data transitions of consecutive blocks.
//
// The loop is event driven: an event at every half clock period, alternating between a data
// sample and an edge sample. Between events the pump current and the VCO frequency are
// constant, so the loop filter and the phase are advanced exactly over each interval, and the
// clock edges (the data sampling instants) fall on the data events.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/cdr/cdr_lock_detector.hpp"
#include "engine/cdr/cdr_loop_filter.hpp"
#include "engine/cdr/cdr_phase_detector.hpp"
#include "engine/cdr/cdr_presets.hpp"
#include "engine/cdr/cdr_transitions.hpp"
#include "engine/cdr/cdr_vco.hpp"

struct CdrLoopSettings {
    double sampleInterval = 0;  // s
    double bitTime = 0;         // s, the nominal unit interval
    std::string bandwidthName = kCdrLowBandwidth;
    // Off: a free-running clock at the bit time, whatever the data do.
    bool recoverClock = true;
};

class CdrLoop {
  public:
    // Needs positive, finite sample interval and bit time.
    explicit CdrLoop(const CdrLoopSettings& settings);

    // Runs the loop over one block. Transition positions and `blockEnd` (the position of the
    // block's last sample) are in samples from the first sample of the first block; blocks
    // come in time order. Appends to `edges` every clock edge up to blockEnd, in samples,
    // ascending: the first lies half a bit after the start, then one per clock period.
    void Run(const TransitionList& transitions, double blockEnd, std::vector<double>& edges);

    // The same, sample by sample, for a caller whose signal depends on the edges found so far:
    // BeginBlock, then transitions as they are found (in time order) and RunUntil the
    // position of each sample.
    void BeginBlock();
    // The data level before any transition, taken once, from the first sample of all.
    void SetInitialLevel(bool high);
    void AddTransition(double position, double level) { pending_.push_back({position, level}); }
    // The next event's position: RunUntil does nothing before it.
    double NextEvent() const { return nextEvent_; }
    void RunUntil(double position, std::vector<double>& edges) {
        while (nextEvent_ <= position) {
            ConsumeTransitionsBefore(nextEvent_);
            Step(edges);
        }
    }

    // The lock detector's verdict (unlocked until the phase detector's evidence says so).
    bool IsLocked() const { return lock_.IsLocked(); }
    // Data event (from 0) at which the present locked state began; -1 while unlocked.
    std::int64_t LockEvent() const { return lock_.LockEvent(); }
    // Locked, or following data whose transitions still spread too far for a lock.
    bool IsTracking() const { return lock_.IsTracking(); }
    // Set once the loop has produced a clock edge.
    bool HasEdges() const { return hasEdges_; }

    // Per-block records, refilled by every Run while recording is on (and left empty
    // otherwise, so that a long run without dumps keeps its memory flat).
    void SetRecording(bool on);
    // The period before each clock edge of the block (s; none before the very first edge) and
    // the lock flag at that edge.
    std::vector<double>& ClockPeriods() { return periods_; }
    std::vector<int>& LockFlags() { return lockFlags_; }
    // For each data period with a transition: (edge-sample instant, transition instant), in
    // samples; their difference is the loop's phase error.
    const std::vector<std::pair<double, double>>& TransitionLog() const { return log_; }

    const CdrPreset& Preset() const { return preset_; }
    const VcoState& Vco() const { return vco_; }
    const CdrLoopFilter& LoopFilter() const { return filter_; }
    // Events whose phase was further than a tenth of a cycle from where the schedule put it.
    std::uint64_t PhaseMisses() const { return misses_; }
    double ClockFrequency() const;  // Hz

  private:
    void Step(std::vector<double>& edges);
    void ConsumeTransitionsBefore(double position);

    double sampleInterval_;
    double samplesPerBit_;
    bool recoverClock_;
    CdrPreset preset_;
    VcoState vco_;
    CdrLoopFilter filter_;
    AlexanderDetector detector_;
    VcoMessageLimiter messages_;

    bool started_ = false;
    bool hasEdges_ = false;
    CdrLockDetector lock_;
    bool dataStep_ = true;  // the next event samples data (else an edge)
    double nextEvent_ = 0;  // samples
    double lastEvent_ = 0;
    double lastEdge_ = -1;    // last clock edge, samples; negative before the first
    double current_ = 0;      // pump current, A
    std::int32_t level_ = 0;  // data level at the last consumed transition: 1 high, 0 low
    double lastTransition_ = 0;
    bool transitionSinceData_ = false;
    double lastEdgeSample_ = 0;
    std::uint64_t misses_ = 0;

    // Transitions found but not yet passed by an event: (position, level).
    struct Transition {
        double position;
        double level;
    };
    std::vector<Transition> pending_;
    std::size_t cursor_ = 0;

    bool recording_ = false;
    std::vector<double> periods_;
    std::vector<int> lockFlags_;
    std::vector<std::pair<double, double>> log_;
};
