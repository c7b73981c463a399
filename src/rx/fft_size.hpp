#pragma once
// Choice of the FFT length for a block of samples.
#include <cstdint>

namespace v10kx_ami_rx {

// Blocks of more than this many bits may use a 3 * 2^k length.
inline constexpr double kLongBlockBits = 16384.0;
// A 3 * 2^k length must leave at least this many bits of history.
inline constexpr double kMinHistoryBits = 4096.0;

// Which lengths the FFT length rule may give: the impulse's transforms run on the power-of-two
// rule, the waveform blocks' on the mixed-radix rule.
enum class FftLengthRule { PowerOfTwo, MixedRadix };

// Power-of-two rule: twice the smallest power of two not below n. The mixed-radix rule lets a
// long block instead take the smallest 3 * 2^k not below n, when that leaves enough history.
// A length that would leave fewer than `minHistory` samples of history (n + minHistory) gives
// way to the smallest power of two that leaves them: a short block must not cut the stage
// responses short. Throws EFailedAllocation when the length would not fit the transforms.
std::int64_t ChooseFftSize(std::int64_t n, double samplesPerBit, FftLengthRule rule,
                           std::int64_t minHistory = 0);

}  // namespace v10kx_ami_rx
