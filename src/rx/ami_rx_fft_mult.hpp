#pragma once
// The receiver's CTLE/VGA stage cascade applied by multiplication on one FFT grid, to the
// impulse response (AMI_Init) and to consecutive waveform blocks (AMI_GetWave, overlap-save).
//
// The waveform path is a chain of stages: an overlap-save window (the input history and the
// grid's transforms) through which each CTLE stage and the VGA (its spectrum on the grid) run,
// each followed by its amplitude curve; then the decision step (DFE and clock recovery). This
// class assembles the chain for each block length and keeps what the simulator sees: the FFT
// length rules, the history across blocks and length changes, the debug and dump lines.
#include <complex>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "engine/overlap_save_chain.hpp"
#include "engine/signal_chain.hpp"
#include "framework/ami_model.hpp"
#include "rx/dfe.hpp"
#include "rx/stage_response.hpp"

class AmiRxFFTMult : public AmiModel {
  public:
    using StagePoint = v10kx_ami_rx::StagePoint;
    using StageResponse = v10kx_ami_rx::StageResponse;

    AmiRxFFTMult(long row_size, int aggressors, double sample_interval, double bit_time,
                 const char* AMI_parameters_in);
    ~AmiRxFFTMult() override;

    using AmiModel::Init;
    // Equalises row 0 of the impulse matrix in place (the aggressor rows are left alone),
    // writes the DFE taps into it and reports them.
    void Init(double* impulseMatrix, int impulseFlag);
    std::int32_t GetWave(double* wave, long wave_size, double* clock_times) override;
    // FFT length and the filter stages on its grid for rowSize samples.
    void Configure() override;

    // A stage response at frequency f >= 0: linear in magnitude and phase between points,
    // falling as 1/f with the phase slope of the last intervals above the last point.
    static std::complex<double> InterpolateResponse(const StageResponse& stage, double f);

  protected:
    // Filters the first rowSize samples of `samples` in place. Impulse path: the linear cascade
    // on a zero history. Waveform path: the whole chain, which fills `clockTimes`.
    void FilterBlock(double* samples, bool impulse, std::vector<double>& clockTimes);

    std::vector<StageResponse> stageResponses;
    std::vector<std::vector<double>> stageCurveIn;  // empty: the stage has no amplitude curve
    std::vector<std::vector<double>> stageCurveOut;
    std::int32_t fftSize = 0;
    std::int32_t prevFftSize = 0;
    std::int32_t padSize = 0;
    double binSpacing = 0;
    double lastInputSample = 0;
    double lastOutputSample = 0;
    std::unique_ptr<DFE> dfe;
    std::size_t reportCut = 0;

  private:
    class DecisionStage;

    // The chain matches rowSize (false after a failed reconfiguration).
    bool ConfiguredForRowSize() const;
    // ... and keeps the history the stage responses need.
    bool ConfiguredForWaveform();
    // Input history the stage responses need, and the room for their ringing ahead of time zero
    // beyond it (both worked out once, on first use).
    std::int64_t HistoryNeeded();
    std::int64_t LookAheadNeeded();
    void FilterImpulse(double* samples);
    void FilterWaveform(double* samples, std::vector<double>& clockTimes);
    void RunDecisionStep(double* samples, std::vector<double>& clockTimes);
    void ReportTaps(const std::vector<double>& weights, const std::vector<int>& codes);
    // The DFE's taps into the equalised impulse in blockBuffer_, and their report.
    void WriteDfeIntoImpulse();

    // The whole waveform path, and (owned by it) its overlap-save part and filter stages.
    SignalChain chain_;
    OverlapSaveChain* window_ = nullptr;
    std::vector<const SpectrumStage*> filterStages_;
    std::vector<double> clockTimes_;  // filled by the decision stage
    std::int64_t historyNeeded_ = -1;
    std::int64_t lookAheadNeeded_ = -1;
    std::vector<double> blockBuffer_;  // the block being processed, committed only on success
    // The clock times of the last waveform block; swapped with clockTimes_ every block, so that
    // both keep their capacity instead of growing afresh.
    std::vector<double> blockClockTimes_;
    DFE::BlockResult decisionResult_;  // the decision stage's lists, kept from block to block
    std::vector<double> reportWeights_;
    std::vector<int> reportCodes_;
};
