#include "rx/rx_jitter.hpp"

#include <cmath>

#include "rx/rx_format.hpp"

namespace v10kx_ami_rx {
namespace {

// Characterised random jitter between 8 and 10.3 Gb/s.
double Q(double r) { return 1.648 + 0.3221 * r - 0.02538 * r * r; }

// The quadratic through (4, 3.90625), (8, Q(8)), (10.3, Q(10.3)) bridges the 1/r law below
// 4 Gb/s and the characterised range.
double Bridge(double r) {
    const double x0 = 4.0, x1 = 8.0, x2 = 10.3;
    const double y0 = 3.90625, y1 = Q(x1), y2 = Q(x2);
    return y0 * (r - x1) * (r - x2) / ((x0 - x1) * (x0 - x2)) +
           y1 * (r - x0) * (r - x2) / ((x1 - x0) * (x1 - x2)) +
           y2 * (r - x0) * (r - x1) / ((x2 - x0) * (x2 - x1));
}

double DcdHigh(double r) { return 5.5 / (std::exp(-2.2 * (r - 13.6)) + 1.0) + 12.5; }

}  // namespace

double RjPs(double r) {
    if (r < 4.0) return 15.625 / r;
    if (r < 8.0) return Bridge(r);
    if (r < 10.3) return Q(r);
    return 23.39 / r;
}

double DcdPs(double r, bool lowBandwidth) {
    if (!lowBandwidth) return DcdHigh(r);
    if (r < 8.0) return 32.0 / r;
    if (r < 10.0) return 8.5 / (std::exp(-10.0 * (r - 9.0)) + 1.0) + 4.0;
    return DcdHigh(r);
}

double SensitivityVolts(const JitterRequest& request) {
    if (!request.highGainCtle) return 0.0;
    if (!request.dfeOn) return 0.012;
    return request.industrialGrade ? 0.026 : 0.012;
}

void ReportJitter(const JitterRequest& request, std::string& msgLog, std::string& paramsOut) {
    // The rate is carried in single precision, as the characterisation was.
    const float rateGbps = static_cast<float>(1.0 / request.bitTime / 1e9);
    const double rate = static_cast<double>(rateGbps) * 1e9;
    const double r = rate / 1e9;

    const float rj = static_cast<float>(RjPs(r) * 1e-12);
    const float dcd = static_cast<float>(0.5 * DcdPs(r, request.ctleBandwidth < 16.0) * 1e-12);
    const float sensitivity = static_cast<float>(0.5 * SensitivityVolts(request));

    msgLog += Format("  Bit rate:  %f Gbps\n", static_cast<float>(r));
    msgLog += Format("  (Rx_Rj  %e)\n", rj);
    paramsOut += Format("  (Rx_Rj  %e) ", rj);
    msgLog += Format("  (Rx_DCD  %e)\n", dcd);
    paramsOut += Format("  (Rx_DCD  %e) ", dcd);
    msgLog += Format("  (Rx_Receiver_Sensitivity  %e)\n", sensitivity);
    paramsOut += Format("  (Rx_Receiver_Sensitivity  %e) ", sensitivity);
}

}  // namespace v10kx_ami_rx
