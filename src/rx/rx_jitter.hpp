#pragma once
// Random jitter, duty-cycle distortion and input sensitivity the receiver reports to the
// simulator's statistical analysis, as functions of bit rate and equaliser configuration.
#include <string>

namespace v10kx_ami_rx {

struct JitterRequest {
    double bitTime = 0;           // seconds
    bool dfeOn = false;           // "dfe" -> "mode" non-zero
    bool highGainCtle = false;    // the high-gain CTLE is simulated
    double ctleBandwidth = 16;    // 8.0 for its low-bandwidth record, else 16.0
    bool industrialGrade = true;  // temp_grade position 0
};

// Random jitter in picoseconds at rate r (Gb/s).
double RjPs(double r);
// Duty-cycle distortion (peak to peak) in picoseconds; `lowBandwidth` selects the "lo" curve.
double DcdPs(double r, bool lowBandwidth);
// Input sensitivity in volts (before halving).
double SensitivityVolts(const JitterRequest& request);

// Writes the bit-rate line and the three outputs into the message log and the output
// parameters.
void ReportJitter(const JitterRequest& request, std::string& msgLog, std::string& paramsOut);

}  // namespace v10kx_ami_rx
