#pragma once
// Handing clock times to the simulator.
#include <cstdint>
#include <vector>

namespace v10kx_ami_rx {

// Largest number of clock times a block of `waveSize` samples may return: one per started bit
// (for a whole number of bits, the bits of the block), and always room for the terminator.
std::int64_t ClockTimeCapacity(std::int64_t waveSize, double samplesPerBit);

// Writes at most ClockTimeCapacity(waveSize, samplesPerBit) times from `times`, then -1.0.
// A null `out` is left alone. Returns the number of times written (without the terminator).
std::int64_t WriteClockTimes(const std::vector<double>& times, double* out, std::int64_t waveSize,
                             double samplesPerBit);

}  // namespace v10kx_ami_rx
