#pragma once
// Entry points of the database writers: each reads a readable device description and writes
// every file its model looks for into `outDir`. Both throw std::runtime_error with a clear
// message on a bad description or an unwritable directory.
#include <filesystem>

namespace mkdb {

void writeTxDatabase(const std::filesystem::path& description, const std::filesystem::path& outDir);
void writeRxDatabase(const std::filesystem::path& description, const std::filesystem::path& outDir);

// The descriptions committed with the sources.
inline std::filesystem::path defaultTxDescription() {
    return std::filesystem::path(MKDB_DEVICES_DIR) / "v10kx_tx.json";
}
inline std::filesystem::path defaultRxDescription() {
    return std::filesystem::path(MKDB_DEVICES_DIR) / "v10kx_rx.json";
}

}  // namespace mkdb
