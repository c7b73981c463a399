#pragma once
// The DFE map: per tap the code range and the feedback voltage of every code, one file per VGA
// bandwidth, and the tap limits derived from it.
#include <cstdint>
#include <string>
#include <vector>

struct DfeMap {
    std::uint32_t tapCount = 0;
    std::uint32_t secondCount = 0;  // kept, not used
    std::vector<double> maxCodes;   // per tap; tap 1 is one-sided, its highest code is 0
    std::vector<double> minCodes;   // per tap, negative
    std::vector<std::vector<double>> positiveTable;  // per tap, the voltage of codes 0, 1, ...
    std::vector<std::vector<double>> negativeTable;  // per tap, by code magnitude
    std::vector<std::uint8_t> flags;     // the two optional flags, when the file has them
    std::vector<std::uint32_t> trailer;  // the three optional integers, when present
};

// Per-tap limits of the weights (volts) and the codes they span.
struct DfeLimits {
    std::vector<double> upperLimit;
    std::vector<double> lowerLimit;
    std::vector<double> codeSpan;
    std::vector<bool> oneSided;

    std::size_t size() const { return upperLimit.size(); }
};

// "V10KX_RX_DFE_Map_BW<d>.kvrrxdata" with d = 1, 2, 3, 4 for VGA bandwidth keys 28, 16, 8, 4;
// without a digit for any other key.
std::string DfeMapFileName(double vgaBandwidthKey);

// Reads one map file. Every count is checked against the bytes left before anything is
// allocated, and the codes are checked against the tables they index, so a short, corrupt or
// inconsistent file gives false and a reason instead of a bad read.
bool ReadDfeMap(const std::string& fileName, DfeMap& map, std::string& reason);

// Limits of a map read by ReadDfeMap: upper = -negative[k][-minCode], lower =
// -positive[k][maxCode], span = |maxCode - minCode|, one-sided when maxCode is 0.
DfeLimits DeriveDfeLimits(const DfeMap& map);

struct DfeMapLoad {
    std::string fileName;
    bool ok = false;
    std::string reason;  // why the map cannot be used, when !ok
    DfeMap map;
    DfeLimits limits;
};

// The map of a VGA bandwidth from the database directory `dataDir` (empty or ending in "/").
DfeMapLoad LoadDfeMap(const std::string& dataDir, double vgaBandwidthKey);
