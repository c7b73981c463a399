#include "rx/fft_size.hpp"

#include <string>

#include "framework/ts_exceptions.hpp"

namespace v10kx_ami_rx {
namespace {

constexpr std::int64_t kMaxFftSize = std::int64_t{1} << 30;

std::int64_t PowerOfTwoRule(std::int64_t n) {
    std::int64_t p = 1;
    while (p < n) p *= 2;
    return 2 * p;
}

}  // namespace

std::int64_t ChooseFftSize(std::int64_t n, double samplesPerBit, FftLengthRule rule,
                           std::int64_t minHistory) {
    std::int64_t size = PowerOfTwoRule(n);
    if (rule == FftLengthRule::MixedRadix &&
        static_cast<double>(n) / samplesPerBit > kLongBlockBits) {
        std::int64_t s = 3;
        while (s < n) s *= 2;
        if (!(kMinHistoryBits * samplesPerBit > static_cast<double>(s - n))) size = s;
    }
    if (size - n < minHistory) {
        size = 1;
        while (size < n + minHistory) size *= 2;
    }
    if (size > kMaxFftSize) {
        throw EFailedAllocation(std::to_string(2 * size + 1) + " doubles");
    }
    return size;
}

}  // namespace v10kx_ami_rx
