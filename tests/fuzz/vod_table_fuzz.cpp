// The VOD table file: loaded with a valid coefficient table beside it or alone, then used for
// amplitudes and the FIR map keys, as a transmitter construction uses it.
#include <cstdlib>
#include <sstream>

#include "fuzz_support.hpp"
#include "tx/database_files.hpp"
#include "tx/device_database.hpp"
#include "tx/fir_map_reader.hpp"
#include "tx/vod_tables.hpp"

using namespace v10kx_ami_tx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The checked-in FIR map, read once: reading it again for every input cost two thirds of a
    // run, and its reader has a harness of its own. Every run keys a copy from the input's table.
    static const FirMap checkedInMap = [] {
        FirMapFile file = ReadFirMap(std::string(AMI_FUZZ_DATA_DIR) + "/" + kFirMapFile);
        if (!file.map) abort();
        return *file.map;
    }();
    fuzz::WriteInput(data, size, kVodTableFile);
    TxSharedState state;
    state.dataDir = fuzz::ScratchDir().string() + "/";
    std::string log;
    std::ostringstream console;
    LoadVodTables(state, log);
    for (double v : {0.0, 2.0, 31.0, -1e300}) {
        VodAmplitude(v, state.vodTable, state.vodCoefTable, state.selections, console);
    }
    FirMap map = checkedInMap;
    KeyFirMap(map, VodKeyAmplitudes(state, console));
    return 0;
}
