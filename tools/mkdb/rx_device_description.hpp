#pragma once
// The readable description of the receiver's equaliser blocks, corners, supplies and DFE maps
// from which every receiver database file is generated.
#include <filesystem>
#include <string>
#include <vector>

namespace mkdb {

struct RxCorner {
    std::string name;
    std::string suffix;  // before the extension: "", "_F", "_S"
    double frequencyScale = 1.0;
    double gainOffsetDb = 0.0;
};

struct RxSupply {
    std::string label;
    std::string suffix;  // version suffix: "", "_V1p0", "_V1p1"
    double frequencyScale = 1.0;
    double saturationScale = 1.0;
};

struct RxVariant {
    std::string name;
    double gainOffsetDb = 0.0;
};

// One equaliser block (one characterisation file): stages of the form
//   H(s) = K (1 + s/wz) / ((1 + s/wp1)(1 + s/wp2)) e^(-s delay)
// with wp1 from the bandwidth key, wz = wp1 / peaking, wp2 = secondPoleRatio * wp1.
struct RxBlock {
    std::string name;
    std::string file;
    bool versioned = true;  // supply suffix in the file name; else one file per corner
    std::string supply;     // supply label of an unversioned block
    int acGainKeys = 0;     // AC gain keys 0 ... acGainKeys-1
    int storedAcGains = 0;  // stored responses (the high keys share the top ones)
    double peakingDbAtZero = 0.0;
    double peakingDbPerStep = 0.0;
    std::vector<double> linearGains;  // per stored AC gain, when the AC key is a plain gain
    std::vector<double> dcGainKeys;
    std::vector<double> dcGainDb;
    std::vector<double> bandwidthKeys;
    std::vector<double> poleHz;
    double secondPoleRatio = 2.0;
    double delaySeconds = 0.0;
    std::vector<double> stagePoleScale;  // one per stage
    std::vector<RxVariant> variants;
    int curveRows = 0;
    std::vector<double> saturationVolts;            // per curve column
    std::vector<double> secondPairSaturationVolts;  // per curve column, optional second pair
};

struct RxDfeTable {
    double bandwidthKey = 0;
    std::string digit;
    std::vector<double> fullScaleVolts;  // per tap
};

struct RxDescription {
    std::string family;
    double gridStartHz = 0;
    double gridStopHz = 0;
    int pointsPerDecade = 0;
    int curvePoints = 0;
    double curveInputMaxVolts = 0;
    std::vector<RxCorner> corners;
    std::vector<RxSupply> supplies;
    std::vector<RxBlock> blocks;
    std::string dfeFile;
    std::vector<int> tapRanges;
    int codesPerTable = 0;
    std::vector<RxDfeTable> dfeTables;
};

// Reads and checks a description; std::runtime_error naming the file and the field otherwise.
RxDescription readRxDescription(const std::filesystem::path& file);

}  // namespace mkdb
