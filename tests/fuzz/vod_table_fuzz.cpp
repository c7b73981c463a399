// The VOD table file: loaded with a valid coefficient table beside it or alone, then used for
// amplitudes and the FIR map keys, as a transmitter construction uses it.
#include <sstream>

#include "fuzz_support.hpp"
#include "tx/database_files.hpp"
#include "tx/device_database.hpp"
#include "tx/vod_tables.hpp"

using namespace v10kx_ami_tx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The checked-in FIR map, so that its keys are rebuilt from the table when it fits.
    static const bool mapCopied = [] {
        std::filesystem::copy_file(std::string(AMI_FUZZ_DATA_DIR) + "/" + kFirMapFile,
                                   fuzz::ScratchDir() / kFirMapFile,
                                   std::filesystem::copy_options::overwrite_existing);
        return true;
    }();
    (void)mapCopied;
    fuzz::WriteInput(data, size, kVodTableFile);
    TxSharedState state;
    state.dataDir = fuzz::ScratchDir().string() + "/";
    std::string log;
    std::ostringstream console;
    LoadVodTables(state, log);
    for (double v : {0.0, 2.0, 31.0, -1e300}) {
        VodAmplitude(v, state.vodTable, state.vodCoefTable, state.selections, console);
    }
    LoadFirMap(state, log, console);
    return 0;
}
