// A receiver-like test model library: AmiModel base, doubles its waveform, writes one clock
// time per four samples, resolves nothing, and throws on request.
#include "framework/ami_model.hpp"
#include "framework/entry_points.hpp"
#include "throw_on_request.hpp"

namespace abi_test {

class RxModel : public AmiModel {
  public:
    RxModel(double* /*impulse_matrix*/, long row_size, int aggressors, double sample_interval,
            double bit_time, const char* AMI_parameters_in)
        : AmiModel(row_size, aggressors, sample_interval, bit_time, AMI_parameters_in) {
        msgLog += "Model Identification: test receiver\n\n";
        if (paramTree) ThrowOnRequest(*paramTree, "throw");
        paramsOut = "(Test\n)\n";
        Init();
    }

    void Configure() override {}

    std::int32_t GetWave(double* wave, long wave_size, double* clock_times) override {
        AmiModel::GetWave(wave, wave_size, clock_times);
        if (paramTree) ThrowOnRequest(*paramTree, "getwave_throw");
        long clocks = 0;
        for (long i = 0; i < wave_size; ++i) {
            wave[i] *= 2;
            if (i % 4 == 0) clock_times[clocks++] = blockStartTime + i * sampleInterval;
        }
        clock_times[clocks] = -1.0;
        GetWaveEnd(wave, wave_size, clock_times);
        return 1;
    }
};

}  // namespace abi_test

DEFINE_AMI_ENTRY_POINTS(AmiModel, abi_test::RxModel)
DEFINE_AMI_RESOLVE_NOOP()
