// A DFE map, read directly, then used as the receiver uses it: the tap limits derived from it
// and the conversions between codes and weights on those limits and on its code tables.
#include "fuzz_support.hpp"
#include "rx/dfe_map.hpp"
#include "rx/dfe_taps.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DfeMap map;
    std::string reason;
    if (!ReadDfeMap(fuzz::WriteInput(data, size, "map.kvrrxdata"), map, reason)) return 0;
    const DfeLimits limits = DeriveDfeLimits(map);
    for (std::size_t k = 0; k < limits.size(); ++k) {
        const int range = DfeTapRange(k);
        for (int code : {-range / 2, -1, 0, 1, range / 2}) {
            const double weight = DfeCodeToWeight(code, limits.upperLimit[k], limits.lowerLimit[k],
                                                  limits.codeSpan[k]);
            for (double scale : {1.0, 0.3 / 0.25}) {
                DfeWeightToCode(weight, limits.upperLimit[k], limits.lowerLimit[k],
                                limits.codeSpan[k], limits.oneSided[k], scale);
                if (k < map.positiveTable.size()) {
                    DfeWeightToCodeByTable(weight, map.positiveTable[k], limits.oneSided[k], scale);
                }
            }
        }
    }
    return 0;
}
