#pragma once
// Loading the transmitter's device database from the directory in the shared state.
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tx/fir_map.hpp"
#include "tx/tx_shared_state.hpp"

namespace v10kx_ami_tx {

// Rebuilds the VOD table and the VOD coefficient table. A missing file, or a coefficient table
// with a number that does not parse, silently leaves the linear fallback in force; files that are
// unusable for other reasons get a "**Warning** " line in `log`.
void LoadVodTables(TxSharedState& state, std::string& log);

// The amplitude of each setting the VOD table file lists, in its order (none when the file is
// missing or unreadable).
std::vector<double> VodKeyAmplitudes(const TxSharedState& state, std::ostream& console);

// When the map has one record more than there are amplitudes, the amplitudes become the keys of
// records 1 onwards; every record then takes its key from the list.
void KeyFirMap(FirMap& map, const std::vector<double>& amplitudes);

// Reads and checks the FIR map; its keys are rebuilt from the amplitudes of the VOD table's
// settings when the table lists one setting fewer than the map has records. Without a usable map
// a "**Warning** " line goes to `log` and the result is empty. `console` receives the lines that
// go to standard output.
std::optional<FirMap> LoadFirMap(const TxSharedState& state, std::string& log,
                                 std::ostream& console);

}  // namespace v10kx_ami_tx
