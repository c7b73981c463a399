// The binary FIR map: read, checked, and, when usable, turned into tap limits and the tap
// weights of extreme settings.
#include "fuzz_support.hpp"
#include "tx/fir_map_reader.hpp"
#include "tx/tap_limits.hpp"
#include "tx/tap_weights.hpp"

using namespace v10kx_ami_tx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const FirMapFile file = ReadFirMap(fuzz::WriteInput(data, size, "fir_map.kvrtxdata"));
    if (!file.map || !CheckFirMap(*file.map).empty()) return 0;
    TapLimitTable limits;
    BuildTapLimits(*file.map, limits);
    const std::optional<FirMap> map = file.map;
    for (double amplitude : file.map->keys) {
        for (std::int32_t setting : {0, 1, -7, 63, -2147483647}) {
            std::string problem;
            const FiveTaps weights =
                ComputeTapWeights(amplitude, map, {setting, -setting, setting, 1}, problem);
            LayoutTapWeights(weights, 3);
        }
    }
    return 0;
}
