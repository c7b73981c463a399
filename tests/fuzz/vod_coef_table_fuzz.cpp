// The VOD coefficient table file, read beside a valid VOD table, then evaluated for every
// corner and supply selection.
#include <sstream>

#include "fuzz_support.hpp"
#include "tx/database_files.hpp"
#include "tx/device_database.hpp"
#include "tx/vod_tables.hpp"

using namespace v10kx_ami_tx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool vodTableWritten = [] {
        const std::string table = "0\n2\n31\n1\n1\n";
        fuzz::WriteInput(reinterpret_cast<const std::uint8_t*>(table.data()), table.size(),
                         kVodTableFile);
        return true;
    }();
    (void)vodTableWritten;
    fuzz::WriteInput(data, size, kVodCoefTableFile);
    TxSharedState state;
    state.dataDir = fuzz::ScratchDir().string() + "/";
    std::string log;
    std::ostringstream console;
    LoadVodTables(state, log);
    for (const char* corner : {"Typical", "Fast", "Slow"}) {
        for (const char* supply : {"1.0 V", "1.1 V", "0.9 V"}) {
            state.selections.cornerName = corner;
            state.selections.supplyId = supply;
            VodAmplitude(17.0, state.vodTable, state.vodCoefTable, state.selections, console);
        }
    }
    return 0;
}
