#pragma once
// Everything the transmitter keeps process-wide: the database directory, the selections and the
// device tables. Every model construction rebuilds them while holding `mutex`; a finished model
// reads none of it.
#include <mutex>
#include <string>

#include "tx/tap_limits.hpp"
#include "tx/vod_tables.hpp"

namespace v10kx_ami_tx {

struct TxSharedState {
    std::mutex mutex;
    std::string dataDir;  // empty or ending in "/"
    TxSelections selections;
    VodTable vodTable;
    VodCoefTable vodCoefTable;
    TapLimitTable tapLimitTable;
};

TxSharedState& TxShared();

}  // namespace v10kx_ami_tx
