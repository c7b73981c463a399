#pragma once
// Circuit constants of the clock-recovery loop, by loop bandwidth and data rate.
#include <cstdint>
#include <string>

struct CdrPreset {
    double resistance = 0;         // loop-filter R, ohm
    double c1 = 0;                 // series capacitor, F
    double c2 = 0;                 // shunt capacitor, F
    double vcoGain = 0;            // Hz/V
    double chargePumpCurrent = 0;  // A
    double feedbackDivider = 1.0;
    std::int32_t integerFeedbackDivider = 1;
    double outputDivider = 1.0;   // VCO frequency / clock frequency
    double vcoMinFrequency = -1;  // Hz; -1: no limit
    double vcoMaxFrequency = -1;
    double referenceFrequency = 5e9;
    double rateRatio = 0;
};

inline constexpr const char* kCdrLowBandwidth = "V10KT_CDR_Low_BW";
inline constexpr const char* kCdrMediumBandwidth = "V10KT_CDR_Medium_BW";
inline constexpr const char* kCdrHighBandwidth = "V10KT_CDR_High_BW";

// The bandwidth name of the receiver's cdr_bandwidth position: 0 Low, 1 Medium, other High.
const char* CdrBandwidthName(int cdrBandwidthIndex);

// The KX and KT spellings of one bandwidth are the same loop; any other name gets the default
// loop. Rates from 1.2e10, 6e9 and 1.6e9 bit/s up belong to the faster band.
CdrPreset SelectCdrPreset(double dataRate, const std::string& bandwidthName);
