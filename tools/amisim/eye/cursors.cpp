#include "amisim/eye/cursors.hpp"

namespace amisim {

std::vector<Cursor> pulseCursors(const PulseResponse& pulse, int pre, int maxPost) {
    std::vector<Cursor> out;
    const long spb = pulse.samplesPerBit;
    const long main = static_cast<long>(pulse.mainIndex);
    const long size = static_cast<long>(pulse.samples.size());
    if (spb < 1 || size == 0) return out;
    for (int k = -pre; k <= maxPost; ++k) {
        const long i = main + k * spb;
        if (i < 0) continue;
        if (i >= size) break;
        out.push_back(Cursor{k, pulse.samples[static_cast<std::size_t>(i)]});
    }
    return out;
}

}  // namespace amisim
