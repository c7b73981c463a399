#pragma once
// The receiver's decision-feedback equaliser with its clock recovery: the decision-and-recovery
// step of the waveform path. It stands on its own (no model needed), so that the equaliser
// adaptation can build one for its candidate waveforms.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/cdr/cdr_loop.hpp"
#include "engine/cdr/cdr_transitions.hpp"
#include "framework/conv_filt.hpp"
#include "rx/adapt_filt.hpp"
#include "rx/dfe.hpp"
#include "rx/dfe_map.hpp"

// Scale between the taps the DFE learns and the codes it reports: 0.3 V over the peak sample
// seen while the data level was estimated, or over the estimated data level.
enum class DfeScaleMode { Peak, DataLevel };

struct DfeSetup {
    double sampleInterval = 0;           // s
    double bitTime = 0;                  // s
    DfeLimits limits;                    // at least one entry per tap when the DFE is active
    std::vector<double> initialWeights;  // per tap, volts
    std::vector<int> codes;              // per tap
    int tapCount = 11;
    double dataLevel = 0.3;  // V, until it is estimated
    bool adaptive = true;    // false: the taps stay at their codes
    double stepSize = 0.2;
    int floatOffset = 0;       // extra taps past tapCount
    int cdrBandwidth = 0;      // 0 Low, 1 Medium, other High
    int cdrSel = 0;            // 0: clock recovery on (and clock times out)
    double clockOffset = 2.5;  // samples
    bool active = true;        // false: clock recovery only, samples pass unchanged
    double levelStep = 0.01;   // V
    DfeScaleMode scaleMode = DfeScaleMode::Peak;
    // True: the taps learn only while the clock recovery follows the data (locked, or its
    // phase detector's votes balanced over the last window with transitions enough). False:
    // from the first clock edge on (the equaliser adaptation's own rule, on a pattern too short
    // for the detector's windows).
    bool learnWhenLocked = true;
    // Taps handed over by the equaliser adaptation, empty without one.
    std::vector<double> adaptedWeights;
    std::vector<int> adaptedCodes;
    double adaptedDataLevel = 0;  // V, the level the adapted taps were learnt against
};

class DecisionFeedbackEqualiser : public DFE {
  public:
    // Bits over which the data level and the peak are estimated before any feedback.
    static constexpr std::uint64_t kEstimationWindow = 5000;
    static constexpr std::uint64_t kLevelStart = 1000;
    static constexpr std::uint64_t kApplyEvery = 50;
    // Clock times that did not fit into the simulator's buffer wait for the next block, up to
    // this many; older ones are dropped, counted and reported.
    static constexpr std::size_t kMaxPendingClockTimes = 64;

    DecisionFeedbackEqualiser() = default;

    // Starts the DFE afresh. 0 when the DFE (or, when not active, the clock recovery) is ready;
    // -1 when the timing is unusable or an active DFE has no limits for its taps. After -1 the
    // DFE is not active; the clock recovery still runs when the timing allows it.
    int Setup(const DfeSetup& setup);

    bool IsActive() const override { return active_; }
    bool IsLocked() const override { return cdr_ && cdr_->IsLocked(); }
    // The user's codes (bounded) of a DFE with fixed taps, for the report.
    const std::vector<int>& Codes() const { return codes_; }
    using DFE::Process;
    void Process(double* samples, std::int64_t count, double blockStartTime,
                 BlockResult& result) override;
    bool RecoversClock() const override { return ready_ && recoverClock_; }
    std::int64_t LockBit() const override { return cdr_ ? cdr_->LockEvent() : -1; }
    std::uint64_t ClockTimesDropped() const override { return clockTimesDropped_; }
    std::vector<double> TapWeights() const override { return adaptedWeights_; }
    std::vector<int> TapCodes() const override { return adaptedCodes_; }
    double TapDataLevel() const override { return adaptedDataLevel_; }
    bool FixedTaps() const override { return active_ && !adaptive_; }
    std::vector<int> FixedTapCodes() const override;
    std::vector<double> FixedTapWeights(double peak) const override;
    void CurrentTaps(std::vector<double>& weights, std::vector<int>& codes) const override;
    void SetRecording(bool tapHistory, bool clockRecords) override;

    // Whether Process hands out clock times (on by default; a DFE that only equalises, as the
    // adaptation's candidates do, leaves them out). Kept across Setup.
    void SetClockTimesOut(bool on) { clockTimesOut_ = on; }

    // The taps an adaptation found, for the impulse response and the tap report.
    void SetAdaptedTaps(std::vector<double> weights, std::vector<int> codes);
    // Per-tap code tables (volts, most negative code first); codes then come from the tables.
    void SetCodeTables(std::vector<std::vector<double>> rows) { codeTables_ = std::move(rows); }

    double DataLevel() const { return dataLevel_; }
    double AdaptationGain() const { return gain_; }
    std::uint64_t DecidedBits() const { return bitCount_; }
    const CdrLoop* ClockRecovery() const { return cdr_.get(); }

  private:
    void Equalise(double* samples, std::size_t count, double blockStart, BlockResult& result);
    void Decide(double value, double instant, BlockResult& result);
    void LoadFixedTaps();
    double CodeScale() const;
    void EmitClockTimes(std::int64_t count, std::vector<double>& out);

    bool ready_ = false;  // timing usable: the clock runs
    bool active_ = false;
    bool adaptive_ = true;
    bool recoverClock_ = true;
    double sampleInterval_ = 0;
    double bitTime_ = 0;
    double samplesPerBit_ = 0;
    double clockOffset_ = 2.5;
    std::size_t tapCount_ = 0;
    DfeLimits limits_;  // one entry per filter tap
    std::vector<int> codes_;
    std::vector<double> adaptedWeights_;
    std::vector<int> adaptedCodes_;
    double adaptedDataLevel_ = 0;
    std::vector<std::vector<double>> codeTables_;
    DfeScaleMode scaleMode_ = DfeScaleMode::Peak;

    std::unique_ptr<AdaptFilt> filter_;
    std::unique_ptr<ConvFilt> smoother_;       // feedback into the decided samples
    std::unique_ptr<ConvFilt> clockSmoother_;  // feedback into the clock's copy
    double previousFeedback_ = 0;              // the feedback before the last decision
    double lastClockSample_ = 0;               // last sample of the clock's copy
    double feedback_ = 0;
    double dataLevel_ = 0.3;
    double levelStep_ = 0.01;
    double gain_ = 1;
    double gainLevel_ = -1;  // the data level gain_ was worked out for
    double levelSum_ = 0;
    std::uint64_t levelBits_ = 0;
    double peak_ = 0;
    std::uint64_t bitCount_ = 0;

    std::unique_ptr<CdrLoop> cdr_;
    TransitionExtractor extractor_;
    TransitionList transitions_;
    std::vector<double> instants_;  // data instants of the block, samples from the first block
    bool started_ = false;
    double origin_ = 0;       // s, time of the first sample of the first block
    double samplesSeen_ = 0;  // position of the next block's first sample
    double lastOutput_ = 0;   // last sample of the previous block after feedback
    bool haveLastOutput_ = false;

    std::vector<double> pendingClockTimes_;
    double lastClockTime_ = 0;
    bool haveClockTime_ = false;
    std::uint64_t clockTimesDropped_ = 0;
    bool learnWhenLocked_ = true;

    // Each decision's feedback takes over at the boundary after its bit, half a bit past the
    // decision instant, so that the feedback is constant over every bit around its sampling
    // instant whatever the sample rate. Decisions waiting for their boundary, oldest first.
    struct FeedbackSwitch {
        double position;  // samples from the first block
        double feedback;
        bool feeding;
    };
    static constexpr std::size_t kMaxSwitches = 8;
    std::array<FeedbackSwitch, kMaxSwitches> switches_{};
    std::size_t switchHead_ = 0;
    std::size_t switchCount_ = 0;
    double heldFeedback_ = 0;
    bool heldFeeding_ = false;

    bool recordTaps_ = false;
    bool recordClock_ = false;
    bool clockTimesOut_ = true;
};
