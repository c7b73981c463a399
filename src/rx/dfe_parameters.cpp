#include "rx/dfe_parameters.hpp"

#include <cstdio>

#include "rx/dfe_taps.hpp"
#include "rx/rx_format.hpp"
#include "rx/rx_settings.hpp"

using v10kx_ami_rx::Format;

namespace {

constexpr unsigned kLowestFloatStart = 8;
constexpr unsigned kHighestFloatStart = 61;
// DFE_tap_length values below these replace the tap count, and clear the float offset.
constexpr unsigned kTapLengthLimit = 12;
constexpr unsigned kFloatingTapLength = 7;

// An unsigned decimal as "%u" reads it (a leading minus wraps round); false without digits.
bool ScanUnsigned(const std::string& text, unsigned& value) {
    unsigned scanned = 0;
    if (std::sscanf(text.c_str(), "%u", &scanned) != 1) return false;
    value = scanned;
    return true;
}

}  // namespace

DfeParameters ReadDfeParameters(const DfeParamText& text, std::string& log) {
    DfeParameters p;
    unsigned floatStart = 0;
    if (ScanUnsigned(text({"float_start"}), floatStart)) {
        if (floatStart < kLowestFloatStart) {
            log += Format(
                "WARNING: Value given for `float_start': %u is too small. Bounding to: %u.\n",
                floatStart, kLowestFloatStart);
            floatStart = kLowestFloatStart;
        } else if (floatStart > kHighestFloatStart) {
            log +=
                Format("WARNING: Value given for `float_start': %u is too big. Bounding to: %u.\n",
                       floatStart, kHighestFloatStart);
            floatStart = kHighestFloatStart;
        }
        p.floatOffset = static_cast<int>(floatStart - kLowestFloatStart);
    }

    const std::string length = text({"DFE_tap_length"});
    unsigned taps = 0;
    if (length != "Default" && ScanUnsigned(length, taps) && taps < kTapLengthLimit) {
        p.tapCount = static_cast<int>(taps);
        if (taps < kFloatingTapLength) p.floatOffset = 0;
    }

    for (int k = 1; k <= kDfeTapCount; ++k) {
        int code = v10kx_ami_rx::ScanInt(text({Format("tap_%d", k)}), 0);
        const int bound = kDfeTapRanges[k - 1] / 2;
        if (code > bound || code < -bound) {
            log += Format("WARNING: Value given for DFE tap_%d: %d is too large.\n", k, code);
            code = code > 0 ? bound : -bound;
            log += Format("\tBounding to: %d\n", code);
        }
        p.codes.push_back(code);
    }
    return p;
}
