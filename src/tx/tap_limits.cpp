#include "tx/tap_limits.hpp"

namespace v10kx_ami_tx {

void BuildTapLimits(const FirMap& map, TapLimitTable& table) {
    if (map.records.empty()) return;
    const FirMapRecord& last = map.records.back();
    const std::size_t m = static_cast<std::size_t>(last.numPre) + last.numPost;
    for (std::vector<std::int32_t>& row : table) row.resize(m, 0);

    std::size_t row = table.size();
    for (auto r = map.records.rbegin(); r != map.records.rend() && row > 0; ++r) {
        --row;
        std::size_t entry = 0;
        for (std::uint32_t pos = 0;
             pos <= r->numPre + r->numPost && pos < r->maxSetting.size() && entry < m; ++pos) {
            if (pos == r->numPre) continue;
            table[row][entry++] = static_cast<std::int32_t>(r->maxSetting[pos]);
        }
    }
}

}  // namespace v10kx_ami_tx
