#pragma once
// What the receiver library shares between all its model instances (apart from the response
// cache, which lives with the response database, and the FFT plans of the engine).
#include <atomic>
#include <cstdint>

namespace v10kx_ami_rx {

struct ReceiverProcessState {
    std::atomic<std::uint64_t> getWaveCalls{0};
    // Constant handed to the DFE set-up; every construction sets it.
    std::atomic<double> dfeConstant{0.0};
};

ReceiverProcessState& TheReceiverProcessState();

}  // namespace v10kx_ami_rx
