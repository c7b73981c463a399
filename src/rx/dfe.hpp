#pragma once
// Boundary of the decision-feedback equaliser. The DFE also owns the decision-and-recovery step
// of the waveform path: it samples the equalised block at the instants its clock recovery
// finds, subtracts the feedback in place and reports the clock times. The impulse processing
// asks it for the taps it writes into the impulse response.
#include <cstdint>
#include <vector>

class DFE {
  public:
    virtual ~DFE() = default;

    // DFE requested (otherwise only the clock recovery runs and samples pass unchanged).
    virtual bool IsActive() const = 0;
    virtual bool IsLocked() const = 0;

    struct BlockResult {
        std::vector<double> clockTimes;               // absolute seconds, ascending
        std::vector<std::vector<double>> tapHistory;  // one record per decided bit when active
        std::vector<double> clockPeriods;             // for the CDR dump, with lock flags
        std::vector<int> lockFlags;
    };
    // Runs one block in place; `blockStartTime` is the time of samples[0]. The result's lists
    // are refilled, so that a caller that keeps one result keeps its room from block to block.
    virtual void Process(double* samples, std::int64_t count, double blockStartTime,
                         BlockResult& result) = 0;
    BlockResult Process(double* samples, std::int64_t count, double blockStartTime) {
        BlockResult result;
        Process(samples, count, blockStartTime, result);
        return result;
    }

    // Whether the clock recovery runs (and the lock and clock-time figures below mean anything).
    virtual bool RecoversClock() const { return false; }
    // Received bit (from 0, the first of the run) at which the clock recovery's present lock
    // began; -1 while unlocked.
    virtual std::int64_t LockBit() const { return -1; }
    // Clock times found but never handed to the simulator, since the start.
    virtual std::uint64_t ClockTimesDropped() const { return 0; }

    // Weights (volts) and codes handed over by the auto-adaptation at set-up; empty otherwise.
    virtual std::vector<double> TapWeights() const = 0;
    virtual std::vector<int> TapCodes() const = 0;
    // The data level (V) the handed-over taps were learnt against; 0 when unknown.
    virtual double TapDataLevel() const { return 0; }
    // Fixed taps: the codes the user set (bounded), and the weights they run at once the DFE
    // has seen a largest sample of `peak` volts.
    virtual bool FixedTaps() const { return false; }
    virtual std::vector<int> FixedTapCodes() const { return {}; }
    virtual std::vector<double> FixedTapWeights(double /*peak*/) const { return {}; }
    // Present weights of the adaptive filter and their codes.
    virtual void CurrentTaps(std::vector<double>& weights, std::vector<int>& codes) const = 0;

    // Whether Process fills the per-bit tap history and the clock records. They are only
    // needed while the dumps are written; without them a long run keeps its memory flat.
    virtual void SetRecording(bool /*tapHistory*/, bool /*clockRecords*/) {}
};
