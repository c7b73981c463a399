#pragma once
// Pre-emphasis tap weights from the output amplitude, the tap settings and the FIR map, and
// their layout as a filter on the simulator's sample grid.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tx/fir_map.hpp"

namespace v10kx_ami_tx {

// Pre2, Pre1, Main, Tap1, Tap2.
using FiveTaps = std::array<double, kTapPositions>;

// Settings of the non-main taps in the order ptap2, ptap1, tap1, tap2, each the user's value
// times its sign.
using SignedTapSettings = std::array<std::int32_t, 4>;

// Weights for `amplitude` from the record whose key equals it. Without a map, without a
// matching record, or with a setting beyond the record's coefficient columns, the result is the
// main cursor alone (weight = amplitude) and `problem` says why.
FiveTaps ComputeTapWeights(double amplitude, const std::optional<FirMap>& map,
                           const SignedTapSettings& settings, std::string& problem);

// Each weight followed by samplesPerBit - 1 zeros (none when samplesPerBit <= 1).
std::vector<double> LayoutTapWeights(const FiveTaps& weights, std::int64_t samplesPerBit);

// "\nCalculated tap weights:\n" and one line per tap, read back from the laid-out filter.
std::string FormatTapWeights(const std::vector<double>& tapWeights, std::int64_t samplesPerBit);

}  // namespace v10kx_ami_tx
