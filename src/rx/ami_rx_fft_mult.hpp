#pragma once
// The receiver's CTLE/VGA stage cascade applied by multiplication on one FFT grid, to the
// impulse response (AMI_Init) and to consecutive waveform blocks (AMI_GetWave, overlap-save).
#include <complex>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "framework/ami_model.hpp"
#include "rx/dfe.hpp"

class AmiRxFFTMult : public AmiModel {
  public:
    using StagePoint = std::pair<double, std::complex<double>>;  // (Hz, response)
    using StageResponse = std::vector<StagePoint>;               // ascending frequencies

    AmiRxFFTMult(long row_size, int aggressors, double sample_interval, double bit_time,
                 const char* AMI_parameters_in);
    ~AmiRxFFTMult() override;

    using AmiModel::Init;
    // Equalises row 0 of the impulse matrix in place (the aggressor rows are left alone),
    // writes the DFE taps into it and reports them.
    void Init(double* impulseMatrix, int impulseFlag);
    std::int32_t GetWave(double* wave, long wave_size, double* clock_times) override;
    // FFT length, buffers and stage spectra for rowSize samples.
    void Configure() override;

    // A stage response at frequency f >= 0: linear in magnitude and phase between points,
    // falling as 1/f with the phase slope of the last intervals above the last point.
    static std::complex<double> InterpolateResponse(const StageResponse& stage, double f);

  protected:
    // InterpolateResponse for many frequencies of one stage: the magnitudes, phases and the
    // top phase slope of the points are worked out once.
    class StageSampler {
      public:
        explicit StageSampler(const StageResponse& stage);
        std::complex<double> operator()(double f) const;

      private:
        const StageResponse& points_;
        std::vector<double> magnitudes_;
        std::vector<double> phases_;
        double topSlope_ = 0;
    };

    // Filters the first rowSize samples of `samples` in place. Impulse path: the linear cascade
    // on a zero history. Waveform path: overlap-save with each stage's amplitude curve, then the
    // DFE and clock recovery, which fill `clockTimes`.
    void FilterBlock(double* samples, bool impulse, std::vector<double>& clockTimes);

    std::vector<StageResponse> stageResponses;
    std::vector<std::vector<double>> stageCurveIn;  // empty: the stage has no amplitude curve
    std::vector<std::vector<double>> stageCurveOut;
    std::vector<std::vector<std::complex<double>>> gridSpectra;
    std::int32_t fftSize = 0;
    std::int32_t prevFftSize = 0;
    std::int32_t padSize = 0;
    std::vector<double> workBuffer;     // 2*fftSize+1 doubles, one-based interleaved complex
    std::vector<double> historyBuffer;  // fftSize doubles
    double binSpacing = 0;
    double lastInputSample = 0;
    double lastOutputSample = 0;
    std::unique_ptr<DFE> dfe;
    std::size_t reportCut = 0;

  private:
    // The buffers and spectra match rowSize (false after a failed reconfiguration).
    bool ConfiguredForRowSize() const;
    void FilterImpulse(double* samples);
    void FilterWaveform(double* samples, std::vector<double>& clockTimes);
    void RunDecisionStep(double* samples, std::vector<double>& clockTimes);
    void ApplyAmplitudeCurve(std::size_t stage);
    void ReportTaps(const std::vector<double>& weights, const std::vector<int>& codes);

    std::vector<double> blockBuffer_;  // the block being processed, committed only on success
    std::vector<double> curveScratch_;
    std::vector<double> curveResult_;
};
