// The parameter string through a model library (the one the harness is linked with): AMI_Init,
// one AMI_GetWave, AMI_Close. The receiver sets up its DFE and clock recovery wherever the
// string asks for them. The database lies next to the harness (the library-directory
// fallback); the receiver's is a small one, so that a run is fast enough to reach depth.
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::RunInstance(fuzz::AsText(data, size), 256, 1, 1e-10 / 16, 1e-10, {256});
    return 0;
}
