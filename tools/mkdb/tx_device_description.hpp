#pragma once
// Readable description of the transmitter device (JSON), from which its database is generated.
#include <array>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace mkdb {

struct TxTapDescription {
    std::string name;
    unsigned position = 0;       // tap position in the FIR map (main cursor at 2)
    unsigned maxSetting = 0;     // largest setting at full swing
    double fullScaleWeight = 0;  // weight at maxSetting, as a fraction of the amplitude
};

struct TxDescription {
    std::string device;
    int firstSetting = 1;
    int lastSetting = 31;
    double linearNumerator = 1;
    double linearDenominator = 1;
    std::vector<double> polynomial;  // swing polynomial, c0 first
    double scale = 0.5;
    std::map<std::string, double> cornerFactors;
    std::map<std::string, double> supplyFactors;
    unsigned records = 32;
    std::string keyCorner;
    std::string keySupply;
    unsigned coefficientColumns = 32;
    double dacShare = 0.75;
    double limitFloor = 0.25;
    int limitLowVod = 2;
    int limitFullVod = 31;
    std::vector<TxTapDescription> taps;
};

// Throws std::runtime_error naming the file and the item that is missing or wrong.
TxDescription loadTxDescription(const std::filesystem::path& file);

}  // namespace mkdb
