#pragma once
// Reader of the binary FIR map. Every count is checked against the bytes the file still holds
// before anything is allocated, so a truncated or corrupt file is reported, never over-read.
#include <optional>
#include <string>

#include "tx/fir_map.hpp"

namespace v10kx_ami_tx {

struct FirMapFile {
    bool opened = false;
    std::optional<FirMap> map;  // set when the whole file was read
    std::string error;          // why `map` is not set (when opened)
};

// Reads the file in full (records and trailer). `keys` and every record's `key` are the keys
// stored in the file.
FirMapFile ReadFirMap(const std::string& path);

// Checks what the tap filter relies on: one to 32 records, each with two pre-cursor and two
// post-cursor taps, a limit for each of the five tap positions that is a whole number of settings
// (finite, 0 or more), and five coefficient rows in both matrices. Returns the first violation,
// or an empty text.
std::string CheckFirMap(const FirMap& map);

}  // namespace v10kx_ami_tx
