#include "tx/device_database.hpp"

#include <algorithm>

#include "tx/database_files.hpp"
#include "tx/fir_map_reader.hpp"
#include "tx/text_lines.hpp"

namespace v10kx_ami_tx {

namespace {

void WarnUnusable(std::string& log, const std::string& path, const std::string& why,
                  const std::string& consequence) {
    log += "**Warning** The device database file '" + path + "' is unusable: " + why + ".\n  " +
           consequence + "\n";
}

}  // namespace

void LoadVodTables(TxSharedState& state, std::string& log) {
    state.vodCoefTable.clear();

    const std::string vodPath = state.dataDir + kVodTableFile;
    const TextLines vodLines = ReadTextLines(vodPath);
    if (!vodLines.opened) return;
    std::string error = vodLines.error;
    std::optional<VodTable> vodTable;
    if (error.empty()) vodTable = ParseVodTable(vodLines.lines, error);
    // The linear trailer is only the fallback: a good coefficient table still gives the swing.
    if (vodTable) {
        state.vodTable = *vodTable;
    } else {
        WarnUnusable(log, vodPath, error, "The linear fallback keeps its earlier values.");
    }

    const std::string coefPath = state.dataDir + kVodCoefTableFile;
    const TextLines coefLines = ReadTextLines(coefPath);
    if (!coefLines.opened) return;
    error = coefLines.error;
    std::optional<VodCoefTable> coefTable;
    if (error.empty()) coefTable = ParseVodCoefTable(coefLines.lines, error);
    if (coefTable) {
        state.vodCoefTable = std::move(*coefTable);
    } else if (!error.empty()) {
        WarnUnusable(log, coefPath, error, "The output amplitude follows the linear fallback.");
    }
}

std::vector<double> VodKeyAmplitudes(const TxSharedState& state, std::ostream& console) {
    std::vector<double> amplitudes;
    const TextLines vodLines = ReadTextLines(state.dataDir + kVodTableFile);
    if (vodLines.opened && vodLines.error.empty()) {
        for (double v : VodSettings(vodLines.lines))
            amplitudes.push_back(
                VodAmplitude(v, state.vodTable, state.vodCoefTable, state.selections, console));
    }
    return amplitudes;
}

void KeyFirMap(FirMap& map, const std::vector<double>& amplitudes) {
    if (map.keys.size() == amplitudes.size() + 1)
        std::copy(amplitudes.begin(), amplitudes.end(), map.keys.begin() + 1);
    for (std::size_t r = 0; r < map.records.size(); ++r) map.records[r].key = map.keys[r];
}

std::optional<FirMap> LoadFirMap(const TxSharedState& state, std::string& log,
                                 std::ostream& console) {
    const std::vector<double> amplitudes = VodKeyAmplitudes(state, console);

    const std::string mapPath = state.dataDir + kFirMapFile;
    const char* noPreEmphasis = "Pre-emphasis is disabled: the output is the main cursor only.";
    FirMapFile file = ReadFirMap(mapPath);
    if (!file.opened) {
        WarnUnusable(log, mapPath, "it cannot be opened", noPreEmphasis);
        return std::nullopt;
    }
    if (!file.map) {
        WarnUnusable(log, mapPath, file.error, noPreEmphasis);
        return std::nullopt;
    }
    FirMap& map = *file.map;
    if (const std::string problem = CheckFirMap(map); !problem.empty()) {
        WarnUnusable(log, mapPath, problem, noPreEmphasis);
        return std::nullopt;
    }
    KeyFirMap(map, amplitudes);
    return std::move(file.map);
}

}  // namespace v10kx_ami_tx
