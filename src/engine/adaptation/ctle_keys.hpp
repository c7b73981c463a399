#pragma once
// Response-database keys of the receiver's CTLE and VGA settings, found from the labels the
// receiver derives from its parameters. The receiver's own lookups and the equaliser adaptation
// both use them, so that the adaptation tries exactly the responses the receiver will apply.
#include <string>

// Request paths of the response database; any other path selects the high-gain CTLE.
inline constexpr const char* kVgaPath = "VGA";
inline constexpr const char* kLowGainPath = "Low-Gain";
inline constexpr const char* kQpiPath = "QPI";

struct CtleLookupKeys {
    double bandwidth = 16;
    std::string path;
    std::string variant = "H";
};

// "High-Gain, High BW" 16 and "High-Gain, Low BW" 8, with the label as path; "High Data Rate,
// Peak Freq 0/1/2/3" 4/8/16/28 with path "Low-Gain"; "QPI" 16 with path "QPI" and the variant
// `qpiVariant` (the common-mode code); any other label 16 with the label as path. The variant
// is "H" except for QPI.
CtleLookupKeys CtleKeysForLabel(const std::string& label, const std::string& qpiVariant);

// VGA bandwidth key of a VGA bandwidth label: "3" 28, "2" 16, "1" 8, "0" 4, anything else 28.
double VgaBandwidthKey(const std::string& label);
