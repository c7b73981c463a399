// The five C functions of the transmitter library.
#include <string>

#include "framework/entry_points.hpp"
#include "tx/front_end.hpp"
#include "tx/user_model.hpp"

namespace {

void ResolveTxFrontEnd(const AmiParamTree& tree, const std::string& parametersIn,
                       std::string& result) {
    result = v10kx_ami_tx::ResolveFrontEnd(&tree, parametersIn);
}

}  // namespace

DEFINE_AMI_ENTRY_POINTS(AmiTx, v10kx_ami_tx::UserModel)
DEFINE_AMI_RESOLVE(ResolveTxFrontEnd)
