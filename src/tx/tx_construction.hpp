#pragma once
// The transmitter's set-up from its parameter string: identification, database directory,
// parameters with their checks and warnings, device tables, jitter report and tap weights.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tx/tx_shared_state.hpp"

class AmiParamTree;

namespace v10kx_ami_tx {

// Sample grids the tap filter can be laid out on.
inline constexpr std::int64_t kMaxSamplesPerBit = 65536;

struct TxSetup {
    std::string msgLog;
    std::string paramsOut;  // complete, closing parenthesis included
    std::vector<double> tapWeights;
    std::int64_t samplesPerBit = 0;
};

// Runs the whole construction sequence while holding the shared state's mutex. Throws
// EBadParamValue when Vod is present but not an integer, and AmiException for a sample
// interval or bit time that is not a positive time or an interval longer than the bit. `moduleDir`
// is the directory of the library, `console` receives the lines meant for standard output.
TxSetup ConstructTx(const AmiParamTree& tree, double sample_interval, double bit_time,
                    TxSharedState& shared, const std::string& moduleDir, std::ostream& console);

}  // namespace v10kx_ami_tx
