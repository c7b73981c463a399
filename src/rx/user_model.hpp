#pragma once
// The receiver model built by AMI_Init: its constructor is the receiver's whole initialisation.
#include "rx/ami_rx_fft_mult.hpp"
#include "rx/response_database.hpp"
#include "rx/rx_settings.hpp"
#include "rx/stage_assembly.hpp"

namespace v10kx_ami_rx {

class UserModel : public AmiRxFFTMult {
  public:
    // `fftEngine`: see AmiRxFFTMult (the C interface always runs FFTW).
    UserModel(double* impulse_matrix, long row_size, int aggressors, double sample_interval,
              double bit_time, const char* AMI_parameters_in,
              FftEngine fftEngine = FftEngine::Fftw);

  private:
    // Integer parameter read one by one; `fallback` when missing or not an integer.
    int ReadIntParam(const std::vector<std::string>& names, int fallback);
    // Value text below the root, empty when absent, without a message either way.
    std::string QuietParamText(const std::vector<std::string>& names) const;
    // The database file names of dataDir with the corner and supply of `labels`.
    ResponseDatabaseFiles DatabaseFiles(const RxLabels& labels) const;
    // Lets the auto-adaptation choose AC, DC and VGA gains (ctle_mode non-zero) on `impulse`,
    // row 0 of the impulse response.
    void AutoAdaptEqualiser(RxSettings& settings, const RxLabels& labels, double bitRate,
                            const double* impulse);
    void AssembleStages(const RxSettings& settings, const ResponseSelection& ctle,
                        const ResponseSelection& vga);
    void AddStage(const ResponseRecord& response, const ResponseRecord& curve,
                  const StageRows& rows, const std::string& stageName);
    // DFE (dfe mode non-zero) or clock recovery only (cdr_sel Enable).
    void SetUpDecisionFeedback(const RxSettings& settings, const RxLabels& labels);

    // The DFE taps the adaptation's second stage found, for the impulse response and the tap
    // report; empty without one.
    std::vector<double> adaptedTapWeights_;
    std::vector<int> adaptedTapCodes_;
    double adaptedDataLevel_ = 0;
};

}  // namespace v10kx_ami_rx
