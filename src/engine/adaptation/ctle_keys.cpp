#include "engine/adaptation/ctle_keys.hpp"

CtleLookupKeys CtleKeysForLabel(const std::string& label, const std::string& qpiVariant) {
    CtleLookupKeys keys;
    keys.path = label;
    if (label == "High-Gain, High BW") {
        keys.bandwidth = 16;
    } else if (label == "High-Gain, Low BW") {
        keys.bandwidth = 8;
    } else if (label == "High Data Rate, Peak Freq 0") {
        keys = {4, kLowGainPath, "H"};
    } else if (label == "High Data Rate, Peak Freq 1") {
        keys = {8, kLowGainPath, "H"};
    } else if (label == "High Data Rate, Peak Freq 2") {
        keys = {16, kLowGainPath, "H"};
    } else if (label == "High Data Rate, Peak Freq 3") {
        keys = {28, kLowGainPath, "H"};
    } else if (label == "QPI") {
        keys = {16, kQpiPath, qpiVariant};
    }
    return keys;
}

double VgaBandwidthKey(const std::string& label) {
    if (label == "2") return 16;
    if (label == "1") return 8;
    if (label == "0") return 4;
    return 28;
}
