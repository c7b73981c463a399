// A transmitter-like test model library: AmiTx base, a gain-of-two tap filter, a real
// AMI_Resolve, and exceptions on request.
#include "framework/ami_tx.hpp"
#include "framework/entry_points.hpp"
#include "throw_on_request.hpp"

namespace abi_test {

class TxModel : public AmiTx {
  public:
    TxModel(double* impulse_matrix, long row_size, int aggressors, double sample_interval,
            double bit_time, const char* AMI_parameters_in)
        : AmiTx(AMI_parameters_in) {
        msgLog = "Model Identification: test transmitter\n\n";
        ThrowOnRequest(*paramTree, "throw");
        tapWeights = {2.0};
        Init(impulse_matrix, row_size, aggressors, sample_interval, bit_time);
        initialised_ = true;
        paramsOut = "(Test\n  (calls 0)\n)\n";
    }

    // Init filters the impulse response through this same function; only the simulator's
    // blocks count as calls.
    std::int32_t GetWave(double* wave, long wave_size, double* clock_times) override {
        if (!initialised_) return AmiTx::GetWave(wave, wave_size, clock_times);
        ThrowOnRequest(*paramTree, "getwave_throw");
        AmiTx::GetWave(wave, wave_size, clock_times);
        paramsOut = "(Test\n  (calls " + std::to_string(++calls_) + ")\n)\n";
        return 1;
    }

  private:
    bool initialised_ = false;
    int calls_ = 0;
};

void Resolve(const AmiParamTree& tree, const std::string& parametersIn, std::string& result) {
    ThrowOnRequest(tree, "throw");
    result = "(" + tree.rootName + " (length " + std::to_string(parametersIn.size()) + "))";
}

}  // namespace abi_test

DEFINE_AMI_ENTRY_POINTS(AmiTx, abi_test::TxModel)
DEFINE_AMI_RESOLVE(abi_test::Resolve)
