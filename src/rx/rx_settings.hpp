#pragma once
// The receiver's settings: the table of integer parameters, the positions chosen for them, the
// labels derived from those positions and the database requests they lead to.
#include <map>
#include <string>
#include <vector>

#include "framework/param_queries.hpp"
#include "rx/response_database.hpp"
#include "rx/rx_jitter.hpp"

namespace v10kx_ami_rx {

// The fourteen integer parameters read in one FetchParamVals pass.
std::vector<IntParamSpec> ReceiverParamTable();

// Positions (indices into the allowed lists) of the table parameters, plus the three integer
// parameters read one by one.
struct RxSettings {
    int vgaGain = 0;
    int eqzS1AcGain = 0;
    int eqzS4AcGain = 0;
    int pwrql = 0;
    int corner = 0;
    int eqzBwSel = 0;
    int vgaBwSel = 0;
    int eqzS4DcGain = 0;
    int hgBwSel = 0;
    int qpiSel = 0;
    int qpiVcm = 0;
    int cdrBandwidth = 0;
    int cdrSel = 0;
    int tempGrade = 0;

    int ctleHgSel = 0;  // 0: high-data-rate CTLE, other: high-gain CTLE
    int ctleMode = 0;   // non-zero asks for CTLE/VGA auto-adaptation
    int dfeMode = 0;    // 0: DFE off
    // The auto-adaptation chose the AC, DC and VGA gains (eqzS4AcGain, eqzS4DcGain, vgaGain).
    bool adapted = false;

    bool Qpi() const { return qpiSel == 1; }
    // The one rule for which CTLE is simulated, read by its lookup, its stages and the jitter
    // report alike: any non-zero ctle_hg_sel selects the high-gain CTLE, and that CTLE's
    // low-bandwidth record goes with every even eqz_bw_sel position (QPI has its own record).
    bool HighGainCtle() const { return ctleHgSel != 0; }
    bool LowBandwidthCtle() const { return !Qpi() && HighGainCtle() && eqzBwSel % 2 == 0; }
};

// Reads the positions out of the table FetchParamVals filled (missing names stay 0).
RxSettings SettingsFromIndices(const std::map<std::string, int>& indices);

struct RxLabels {
    std::string ctleMode;      // e.g. "High Data Rate, Peak Freq 0", "High-Gain, Low BW", "QPI"
    std::string vgaBandwidth;  // "0" ... "3"
    std::string corner;        // "Typical", "Fast", "Slow"
    std::string supply;        // "1.0 V", "1.1 V", "0.9 V"
    std::string qpiCode;       // "0p125V", "0p25V", "0p35V"
};

RxLabels DeriveLabels(const RxSettings& settings);

// The jitter request of the CTLE these settings simulate.
JitterRequest MakeJitterRequest(const RxSettings& settings, double bitTime);

// Database requests of the CTLE and VGA paths.
ResponseRequest CtleRequest(const RxSettings& settings, const RxLabels& labels, double bitRate);
ResponseRequest VgaRequest(const RxSettings& settings, const RxLabels& labels, double bitRate);

// The framework's integer scan (a number beyond int saturates), or `fallback` when the text holds
// no number.
inline int ScanInt(const std::string& text, int fallback) { return ::ScanIntOr(text, fallback); }

}  // namespace v10kx_ami_rx
