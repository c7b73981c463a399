#include "rx/clock_times.hpp"

#include <algorithm>
#include <cmath>

namespace v10kx_ami_rx {

std::int64_t ClockTimeCapacity(std::int64_t waveSize, double samplesPerBit) {
    if (waveSize <= 0 || !(samplesPerBit > 0) || !std::isfinite(samplesPerBit)) return 0;
    // One time per started bit: a block that ends inside a bit may deliver that bit's time.
    // A ratio a rounding above a whole number of bits (32 samples of a bit time that is not
    // exactly 32 sample intervals in binary) is that whole number.
    const double ratio = static_cast<double>(waveSize) / samplesPerBit;
    double bits = std::ceil(ratio);
    if (bits - ratio > 1.0 - 1e-9 * std::max(1.0, ratio)) bits -= 1.0;
    // One slot stays free for the terminator, whatever the ratio (bounded before the
    // conversion, which a huge ratio would overflow).
    return static_cast<std::int64_t>(std::min(bits, static_cast<double>(waveSize - 1)));
}

std::int64_t WriteClockTimes(const std::vector<double>& times, double* out, std::int64_t waveSize,
                             double samplesPerBit) {
    if (out == nullptr) return 0;
    const std::int64_t count = std::min<std::int64_t>(static_cast<std::int64_t>(times.size()),
                                                      ClockTimeCapacity(waveSize, samplesPerBit));
    std::copy(times.begin(), times.begin() + count, out);
    out[count] = -1.0;
    return count;
}

}  // namespace v10kx_ami_rx
