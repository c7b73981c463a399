#pragma once
// The receiver model built by AMI_Init: its constructor is the receiver's whole initialisation.
#include "rx/ami_rx_fft_mult.hpp"
#include "rx/response_database.hpp"
#include "rx/rx_settings.hpp"

namespace v10kx_ami_rx {

class UserModel : public AmiRxFFTMult {
  public:
    UserModel(double* impulse_matrix, long row_size, int aggressors, double sample_interval,
              double bit_time, const char* AMI_parameters_in);

  private:
    // Integer parameter read one by one; `fallback` when missing or not an integer.
    int ReadIntParam(const std::vector<std::string>& names, int fallback);
    // Lets the auto-adaptation choose AC, DC and VGA gains (ctle_mode non-zero).
    void AutoAdaptEqualiser(RxSettings& settings, const RxLabels& labels, double bitRate);
    void AssembleStages(const RxSettings& settings, const ResponseSelection& ctle,
                        const ResponseSelection& vga);
    void AddStage(const ResponseRecord& response, std::uint32_t magnitudeRow,
                  std::uint32_t phaseRow, const ResponseRecord& curve, std::uint32_t inRow,
                  std::uint32_t outRow, const std::string& stageName);
    // DFE (dfe mode non-zero) or clock recovery only (cdr_sel Enable). `impulse` is row 0 of
    // the impulse response (rowSize samples), for its sum.
    void SetUpDecisionFeedback(const RxSettings& settings, const RxLabels& labels,
                               const double* impulse);
};

}  // namespace v10kx_ami_rx
