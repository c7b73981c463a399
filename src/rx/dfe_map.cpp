#include "rx/dfe_map.hpp"

#include <cmath>

#include "rx/container_reader.hpp"

namespace {

bool IsWholeNumber(double x) { return std::isfinite(x) && x == std::floor(x); }

// The codes of each tap must lie inside the tables they index, and the limits they select must
// make a usable range.
bool CheckCodes(const DfeMap& map, std::string& reason) {
    for (std::uint32_t k = 0; k < map.tapCount; ++k) {
        const double highest = map.maxCodes[k];
        const double lowest = map.minCodes[k];
        const std::string tap = "tap " + std::to_string(k + 1);
        if (!IsWholeNumber(highest) || highest < 0 ||
            highest >= static_cast<double>(map.positiveTable[k].size())) {
            reason = tap + ": highest code " + std::to_string(highest) +
                     " is not a code of its positive table (" +
                     std::to_string(map.positiveTable[k].size()) + " entries)";
            return false;
        }
        if (!IsWholeNumber(lowest) || lowest > 0 ||
            -lowest >= static_cast<double>(map.negativeTable[k].size())) {
            reason = tap + ": lowest code " + std::to_string(lowest) +
                     " is not a code of its negative table (" +
                     std::to_string(map.negativeTable[k].size()) + " entries)";
            return false;
        }
        if (highest == lowest) {
            reason = tap + ": the code range is empty";
            return false;
        }
    }
    const DfeLimits limits = DeriveDfeLimits(map);
    for (std::uint32_t k = 0; k < map.tapCount; ++k) {
        const double upper = limits.upperLimit[k];
        const double lower = limits.lowerLimit[k];
        if (!std::isfinite(upper) || !std::isfinite(lower) || lower > upper) {
            reason = "tap " + std::to_string(k + 1) + ": the voltages of its end codes give the " +
                     "unusable range " + std::to_string(lower) + " ... " + std::to_string(upper);
            return false;
        }
    }
    return true;
}

}  // namespace

std::string DfeMapFileName(double vgaBandwidthKey) {
    const char* digit = vgaBandwidthKey == 28   ? "1"
                        : vgaBandwidthKey == 16 ? "2"
                        : vgaBandwidthKey == 8  ? "3"
                        : vgaBandwidthKey == 4  ? "4"
                                                : "";
    return std::string("V10KX_RX_DFE_Map_BW") + digit + ".kvrrxdata";
}

bool ReadDfeMap(const std::string& fileName, DfeMap& map, std::string& reason) {
    map = DfeMap();
    ContainerReader in(fileName);
    if (!in.IsOpen()) {
        reason = in.Ok() ? "the file cannot be found" : in.Reason();
        return false;
    }
    in.ReadU32(map.tapCount, "the tap count");
    in.ReadU32(map.secondCount, "the second count");
    in.ReadDoubleVector(map.maxCodes, "the highest codes");
    in.ReadDoubleVector(map.minCodes, "the lowest codes");
    ResponseRecord positive, negative;
    in.ReadRecord(positive, "the positive table");
    in.ReadRecord(negative, "the negative table");
    if (!in.Ok()) {
        reason = in.Reason();
        return false;
    }
    const std::uint32_t taps = map.tapCount;
    if (taps == 0) {
        reason = "it describes no taps";
        return false;
    }
    if (map.maxCodes.size() != taps || map.minCodes.size() != taps || positive.rows != taps ||
        negative.rows != taps) {
        reason = "its code lists (" + std::to_string(map.maxCodes.size()) + ", " +
                 std::to_string(map.minCodes.size()) + ") and tables (" +
                 std::to_string(positive.rows) + ", " + std::to_string(negative.rows) +
                 " rows) do not match its tap count " + std::to_string(taps);
        return false;
    }
    map.positiveTable = std::move(positive.data);
    map.negativeTable = std::move(negative.data);
    // The first tap only ever feeds back one way.
    map.maxCodes[0] = 0;
    for (double& v : map.positiveTable[0]) v = 0;

    // Optional trailing fields.
    if (in.Remaining() >= 2) {
        map.flags.resize(2);
        in.ReadU8(map.flags[0], "the flags");
        in.ReadU8(map.flags[1], "the flags");
    }
    if (in.Remaining() >= 12) {
        map.trailer.resize(3);
        for (std::uint32_t& v : map.trailer) in.ReadU32(v, "the trailing integers");
    }
    if (!in.Ok()) {
        reason = in.Reason();
        return false;
    }
    return CheckCodes(map, reason);
}

DfeLimits DeriveDfeLimits(const DfeMap& map) {
    DfeLimits limits;
    for (std::uint32_t k = 0; k < map.tapCount; ++k) {
        const auto highest = static_cast<std::size_t>(map.maxCodes[k]);
        const auto lowest = static_cast<std::size_t>(-map.minCodes[k]);
        limits.upperLimit.push_back(-map.negativeTable[k][lowest]);
        limits.lowerLimit.push_back(-map.positiveTable[k][highest]);
        limits.codeSpan.push_back(std::fabs(map.maxCodes[k] - map.minCodes[k]));
        limits.oneSided.push_back(map.maxCodes[k] == 0);
    }
    return limits;
}

DfeMapLoad LoadDfeMap(const std::string& dataDir, double vgaBandwidthKey) {
    DfeMapLoad load;
    load.fileName = dataDir + DfeMapFileName(vgaBandwidthKey);
    load.ok = ReadDfeMap(load.fileName, load.map, load.reason);
    if (load.ok) load.limits = DeriveDfeLimits(load.map);
    return load;
}
