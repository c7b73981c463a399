#include "tx/user_model.hpp"

#include <iostream>

#include "framework/database_path.hpp"
#include "tx/tx_construction.hpp"

namespace v10kx_ami_tx {

UserModel::UserModel(double* impulse_matrix, long row_size, int aggressors, double sample_interval,
                     double bit_time, const char* AMI_parameters_in)
    : AmiTx(AMI_parameters_in) {
    TxSetup setup = ConstructTx(*paramTree, sample_interval, bit_time, TxShared(),
                                ModuleDirectory(), std::cout);
    msgLog = std::move(setup.msgLog);
    paramsOut = std::move(setup.paramsOut);
    tapWeights = std::move(setup.tapWeights);
    samplesPerBit = setup.samplesPerBit;
    secondFilterCorner = 0;
    outputScale = 1;
    Init(impulse_matrix, row_size, aggressors, sample_interval, bit_time);
}

}  // namespace v10kx_ami_tx
