#pragma once
// In-memory form of the binary FIR map: for every Vod setting, the tap limits and the two
// coefficient matrices that turn a tap setting into a tap weight. The reserved items are kept so
// that the file can be written back exactly as read.
#include <cstdint>
#include <vector>

namespace v10kx_ami_tx {

// Row-major matrix as stored in the file.
struct FirMatrix {
    std::uint32_t rows = 0;
    std::uint32_t cols = 0;
    std::vector<double> values;  // rows * cols entries

    double at(std::uint32_t r, std::uint32_t c) const {
        return values[static_cast<std::size_t>(r) * cols + c];
    }
};

struct FirMapRecord {
    double key = 0;        // amplitude this record belongs to (from `keys`, not the stored one)
    double storedKey = 0;  // the key written in front of the record; not used for lookups
    std::uint32_t numPre = 0;
    std::uint32_t numPost = 0;
    std::uint32_t reservedWord = 0;
    std::vector<double> maxSetting;  // one per tap position
    std::vector<double> reservedList;
    FirMatrix coefA;  // row = tap position, column = setting magnitude
    FirMatrix coefB;
    double reservedReal1 = 0;
    double reservedReal2 = 0;
    std::vector<double> reservedLists[3];
};

struct FirMapTrailer {
    std::uint32_t reservedWord1 = 0;
    std::uint32_t reservedWord2 = 0;
    double reservedReals[4] = {0, 0, 0, 0};
    std::vector<double> reservedList1;
    std::vector<double> reservedList2;
    std::vector<std::vector<double>> jaggedTable;
};

struct FirMap {
    std::vector<double> keys;  // one per record
    std::vector<FirMapRecord> records;
    FirMapTrailer trailer;
};

// The model's tap filter has two pre-cursor taps, the main cursor and two post-cursor taps.
inline constexpr std::uint32_t kPreTaps = 2;
inline constexpr std::uint32_t kPostTaps = 2;
inline constexpr std::uint32_t kTapPositions = kPreTaps + kPostTaps + 1;
inline constexpr std::uint32_t kMainPosition = kPreTaps;
inline constexpr std::size_t kMaxFirMapRecords = 32;

}  // namespace v10kx_ami_tx
