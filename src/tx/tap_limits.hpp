#pragma once
// Largest usable setting of each non-main tap, per Vod setting.
#include <array>
#include <cstdint>
#include <vector>

#include "tx/fir_map.hpp"

namespace v10kx_ami_tx {

// 32 rows indexed by Vod 0..31; each row holds the limits of the non-main tap positions in
// increasing position order (second pre-cursor, first pre-cursor, first post-cursor, second
// post-cursor).
using TapLimitTable = std::array<std::vector<std::int32_t>, 32>;

// Fills the rows from the records of a checked map, the last record into row 31, the one before
// into row 30, and so on. Rows no record reaches keep what they held.
void BuildTapLimits(const FirMap& map, TapLimitTable& table);

}  // namespace v10kx_ami_tx
