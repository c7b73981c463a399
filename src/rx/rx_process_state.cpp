#include "rx/rx_process_state.hpp"

namespace v10kx_ami_rx {

ReceiverProcessState& TheReceiverProcessState() {
    static ReceiverProcessState state;
    return state;
}

}  // namespace v10kx_ami_rx
