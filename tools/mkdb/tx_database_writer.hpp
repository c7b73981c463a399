#pragma once
// The transmitter's three database files: the VOD table, the VOD coefficient table (both text)
// and the binary FIR map. Building and writing are separate, so that tests can alter a database
// before writing it.
#include <filesystem>
#include <vector>

#include "mkdb/tx_device_description.hpp"
#include "tx/fir_map.hpp"
#include "tx/vod_tables.hpp"

namespace mkdb {

struct TxVodTableFile {
    double header = 0;
    std::vector<double> settings;
    double linearNumerator = 1;
    double linearDenominator = 1;
};

struct TxDatabase {
    TxVodTableFile vodTable;
    v10kx_ami_tx::VodCoefTable vodCoefTable;
    v10kx_ami_tx::FirMap firMap;
};

// Output swing of setting v for one corner and supply of the description.
double txSwing(const TxDescription& d, double v, const std::string& corner,
               const std::string& supply);

TxDatabase buildTxDatabase(const TxDescription& description);

// Each throws std::runtime_error when the file cannot be written.
void writeVodTableFile(const std::filesystem::path& file, const TxVodTableFile& table);
void writeVodCoefTableFile(const std::filesystem::path& file,
                           const v10kx_ami_tx::VodCoefTable& table);
void writeFirMapFile(const std::filesystem::path& file, const v10kx_ami_tx::FirMap& map);

// All three files under their model names in `outDir`.
void writeTxDatabase(const TxDatabase& database, const std::filesystem::path& outDir);

}  // namespace mkdb
