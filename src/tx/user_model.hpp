#pragma once
// The transmitter model: all of its set-up happens in the constructor, which AMI_Init runs.
#include "framework/ami_tx.hpp"

namespace v10kx_ami_tx {

class UserModel : public AmiTx {
  public:
    UserModel(double* impulse_matrix, long row_size, int aggressors, double sample_interval,
              double bit_time, const char* AMI_parameters_in);
};

}  // namespace v10kx_ami_tx
