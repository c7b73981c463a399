#pragma once
// The receiver's CTLE/VGA stage cascade, applied to the impulse response (AMI_Init) by
// multiplication on one FFT grid, and to consecutive waveform blocks (AMI_GetWave) as a chain of
// stages.
//
// The waveform path: each CTLE stage and the VGA as a causal filter convolved by overlap-save on
// a transform a few times its response's length, each keeping its own input history, each
// followed by its amplitude curve; then the decision step (DFE and clock recovery). The output
// is the same whatever the block lengths. This class assembles the chain and keeps what the
// simulator sees: the FFT length rule and its debug line, the debug and dump lines.
#include <complex>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "engine/stages/overlap_save_chain.hpp"
#include "engine/stages/partitioned_filter_stage.hpp"
#include "engine/stages/signal_chain.hpp"
#include "framework/ami_model.hpp"
#include "rx/dfe.hpp"
#include "rx/fft_size.hpp"
#include "rx/stage_response.hpp"

class AmiRxFFTMult : public AmiModel {
  public:
    using StagePoint = v10kx_ami_rx::StagePoint;
    using StageResponse = v10kx_ami_rx::StageResponse;

    // `fftEngine`: the engine of the stages' transforms (the reference engine in the tests that
    // compare the two).
    AmiRxFFTMult(long row_size, int aggressors, double sample_interval, double bit_time,
                 const char* AMI_parameters_in, FftEngine fftEngine = FftEngine::Fftw);
    ~AmiRxFFTMult() override;

    using AmiModel::Init;
    // Equalises row 0 of the impulse matrix in place (the aggressor rows are left alone),
    // writes the DFE taps into it and reports them.
    void Init(double* impulseMatrix, int impulseFlag);
    std::int32_t GetWave(double* wave, long wave_size, double* clock_times) override;
    // FFT length and the filter stages on its grid for rowSize samples: called by the base's
    // Init for the impulse (power-of-two rule) and by its GetWave when the block length
    // changes (mixed-radix rule).
    void Configure() override;
    void Configure(v10kx_ami_rx::FftLengthRule rule);

    // A stage response at frequency f >= 0: linear in magnitude and phase between points,
    // falling as 1/f with the phase slope of the last intervals above the last point.
    static std::complex<double> InterpolateResponse(const StageResponse& stage, double f);

  protected:
    // Filters the first rowSize samples of `samples` in place. Impulse path: the linear cascade
    // on a zero history. Waveform path: the whole chain, whose decision stage keeps the block's
    // clock times (BlockClockTimes).
    void FilterBlock(double* samples, bool impulse);
    // The clock times the last waveform block found; empty without a decision stage.
    const std::vector<double>& BlockClockTimes() const;

    std::vector<StageResponse> stageResponses;
    std::vector<std::vector<double>> stageCurveIn;  // empty: the stage has no amplitude curve
    std::vector<std::vector<double>> stageCurveOut;
    std::int32_t fftSize = 0;
    std::int32_t padSize = 0;
    double lastInputSample = 0;
    double lastOutputSample = 0;
    std::unique_ptr<DFE> dfe;

  private:
    class DecisionStage;

    // The waveform chain is set up for blocks of rowSize samples.
    bool ConfiguredForWaveform() const { return waveformRowSize_ == rowSize; }
    // The one place that decides how the chain is set up for a block of rowSize samples: not
    // at all when it already is; without a new FFT length where the impulse's grid leaves the
    // history the stage responses need; otherwise by the mixed-radix length rule.
    void ConfigureForBlocks();
    // The stage cascade on the impulse's grid of `size` points.
    void ConfigureImpulse(std::int64_t size);
    // The waveform chain for blocks of rowSize samples (built on first use, then kept with its
    // history; only the transform lengths follow the block length).
    void ConfigureWaveform();
    void BuildWaveformChain();
    // Input history the stage responses need, and the room for their ringing ahead of time zero
    // beyond it (both worked out once, on first use): they set the length the FFT length rule
    // reports for waveform blocks.
    std::int64_t HistoryNeeded();
    std::int64_t LookAheadNeeded();
    void MeasureSpans();
    void FilterImpulse(double* samples);
    void FilterWaveform(double* samples);
    void RunDecisionStep(double* samples, DFE::BlockResult& result);
    void ReportTaps(const std::vector<double>& weights, const std::vector<int>& codes);
    // The DFE's taps into the equalised impulse in blockBuffer_, and their report.
    void WriteDfeIntoImpulse();

    FftEngine fftEngine_;
    bool configuringImpulse_ = false;  // within Init's configuration
    // The impulse's stages on its grid.
    std::vector<std::unique_ptr<SpectrumStage>> impulseStages_;
    std::vector<const SpectrumStage*> filterStages_;
    // The whole waveform path, and (owned by it) its filter stages.
    SignalChain chain_;
    bool chainBuilt_ = false;
    std::vector<PartitionedFilterStage*> waveformFilters_;
    DecisionStage* decisionStage_ = nullptr;  // the chain's last stage, when there is a DFE
    std::int64_t waveformRowSize_ = -1;
    std::int64_t historyNeeded_ = -1;
    std::int64_t lookAheadNeeded_ = -1;
    std::vector<double> blockBuffer_;  // the block being processed, committed only on success
    std::vector<double> reportWeights_;
    std::vector<int> reportCodes_;
};
