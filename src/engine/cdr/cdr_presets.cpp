#include "engine/cdr/cdr_presets.hpp"

#include <cmath>

namespace {

struct BandRow {
    double resistance;
    double c1;
    double outputDivider;
};

// Rows per bandwidth, fastest band first.
constexpr BandRow kLow[4] = {{94.73027467092749, 9.265000000000001e-10, 1},
                             {99.05805371680742, 8.500000000000001e-10, 2},
                             {120.88929468157953, 7.65e-10, 4},
                             {191.14357452636384, 4.845e-10, 8}};
constexpr BandRow kMedium[4] = {{144.2593015293312, 5.95e-10, 1},
                                {164.45560374343756, 5.95e-10, 2},
                                {173.11116183519744, 5.95e-10, 4},
                                {191.14357452636384, 4.845e-10, 8}};
constexpr BandRow kHigh[4] = {{238.14105, 1.7e-10, 1},
                              {214.32694500000002, 4.675e-10, 2},
                              {216.7083555, 4.675e-10, 4},
                              {235.52149845, 3.91e-10, 8}};

int Band(double dataRate) {
    if (dataRate >= 1.2e10) return 0;
    if (dataRate >= 6e9) return 1;
    if (dataRate >= 1.6e9) return 2;
    return 3;
}

const BandRow* Rows(const std::string& name) {
    if (name == "V10KX_CDR_Low_BW" || name == "V10KT_CDR_Low_BW") return kLow;
    if (name == "V10KX_CDR_Medium_BW" || name == "V10KT_CDR_Medium_BW") return kMedium;
    if (name == "V10KX_CDR_High_BW" || name == "V10KT_CDR_High_BW") return kHigh;
    return nullptr;
}

}  // namespace

const char* CdrBandwidthName(int cdrBandwidthIndex) {
    if (cdrBandwidthIndex == 0) return kCdrLowBandwidth;
    if (cdrBandwidthIndex == 1) return kCdrMediumBandwidth;
    return kCdrHighBandwidth;
}

CdrPreset SelectCdrPreset(double dataRate, const std::string& bandwidthName) {
    CdrPreset p;
    if (const BandRow* rows = Rows(bandwidthName)) {
        const BandRow& row = rows[Band(dataRate)];
        p.resistance = row.resistance;
        p.c1 = row.c1;
        p.outputDivider = row.outputDivider;
        p.c2 = 2e-12;
        p.vcoGain = 7.4e9;
        p.chargePumpCurrent = 5e-6;
        p.vcoMinFrequency = 5e8;
        p.vcoMaxFrequency = 1e11;
    } else {
        p.resistance = 150;
        p.c1 = 3e-8;
        p.c2 = 1.5e-11;
        p.vcoGain = 2e8;
        p.chargePumpCurrent = 2.5e-5;
    }
    p.referenceFrequency = 5e9;
    p.rateRatio = std::round(dataRate / 5e9 / 2) * 0.5;
    return p;
}
