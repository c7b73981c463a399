#pragma once
// Transmitter model base: parameter tree, message log, output parameters, tap weights and the
// two filter stages of the waveform path.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ami_tree.hpp"
#include "conv_filt.hpp"

// Which instructions the tap filter's sums run on. Automatic: AVX where the processor has it,
// SSE2 otherwise (x86-64), the scalar sum on other processors. All give the same bits; choosing
// one lets the tests check each against the dense filter on any machine that can run it. A
// variant the machine cannot run falls back to Automatic.
enum class TapKernel { Automatic, Scalar, Sse2, Avx };
bool TapKernelAvailable(TapKernel kernel);

class AmiTx {
  public:
    // Parses the parameter string; a parse failure (EFailedParse) leaves the constructor.
    explicit AmiTx(const char* AMI_parameters_in);
    virtual ~AmiTx();

    AmiTx(const AmiTx&) = delete;
    AmiTx& operator=(const AmiTx&) = delete;

    // Filters the impulse response (first row_size samples) in place.
    virtual void Init(double* impulse_matrix, long row_size, int aggressors, double sample_interval,
                      double bit_time);
    // Filters one waveform block in place, continuing the filter state; returns 1.
    virtual std::int32_t GetWave(double* wave, long wave_size, double* clock_times);

    const std::string& MsgLog() const { return msgLog; }
    const std::string& ParamsOut() const { return paramsOut; }

  protected:
    std::unique_ptr<AmiParamTree> paramTree;
    std::vector<double> tapWeights;
    std::unique_ptr<ConvFilt> firFilter;
    std::unique_ptr<ConvFilt> secondFilter;
    std::string msgLog;
    std::string paramsOut;
    double secondFilterCorner = 0;
    double outputScale = 1;
    std::int64_t samplesPerBit = 0;
    TapKernel tapKernel = TapKernel::Automatic;
};
