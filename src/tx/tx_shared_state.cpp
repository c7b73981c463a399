#include "tx/tx_shared_state.hpp"

namespace v10kx_ami_tx {

TxSharedState& TxShared() {
    static TxSharedState state;
    return state;
}

}  // namespace v10kx_ami_tx
