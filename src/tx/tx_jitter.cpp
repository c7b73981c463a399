#include "tx/tx_jitter.hpp"

#include "framework/format.hpp"

namespace v10kx_ami_tx {

namespace {

constexpr float kMinRateGbps = 0.611f;
constexpr float kMaxRateGbps = 17.4f;

// c0 + c1*x + c2*x^2 in picoseconds, accumulated the way the characterisation fit was evaluated.
double Polynomial(double c0, double c1, double c2, double x) {
    double p = c0;
    p = x * c1 + p;
    p = (x * x) * c2 + p;
    return p;
}

}  // namespace

TxJitter ComputeTxJitter(double bitRate) {
    TxJitter j;
    j.rateGbps = static_cast<float>(bitRate / 1e9);
    double x = static_cast<double>(j.rateGbps) * 1e9 / 1e9;
    // The fits hold between 3 and 24 Gbps; a rate that is not a number is taken as the lowest.
    if (!(x >= 3)) x = 3;
    if (x > 24) x = 24;
    const double rj =
        Polynomial(0.6935192743764172, -0.04023401360544218, 0.0008382086167800454, x);
    const double dcd = Polynomial(2.324036281179138, -0.14829931972789118, 0.003089569160997733, x);
    const double dj = Polynomial(6.306739439962032, -0.4176934029425724, 0.008701945894636924, x);
    j.rj = static_cast<float>(rj * 1e-12);
    j.dj = static_cast<float>(dj * 1e-12 * 0.5);
    j.dcd = static_cast<float>(dcd * 1e-12 * 0.5);
    return j;
}

void ReportTxJitter(double bitRate, std::string& msgLog, std::string& paramsOut,
                    bool& paramsValid) {
    const TxJitter j = ComputeTxJitter(bitRate);
    if (!(j.rateGbps >= kMinRateGbps && j.rateGbps <= kMaxRateGbps)) {
        msgLog += ami::Format("**Warning** Bit rate is outside the legal range of %f - %f Gbps!\n",
                              static_cast<double>(kMinRateGbps), static_cast<double>(kMaxRateGbps));
        paramsValid = false;
    }
    msgLog += ami::Format("  Bit rate:  %f Gbps\n", static_cast<double>(j.rateGbps));
    const struct {
        const char* format;
        float value;
    } entries[] = {
        {"  (Tx_Rj  %e)\n", j.rj}, {"  (Tx_Dj  %e)\n", j.dj}, {"  (Tx_DCD %e)\n", j.dcd}};
    for (const auto& e : entries) {
        const std::string line = ami::Format(e.format, static_cast<double>(e.value));
        paramsOut += line;
        msgLog += line;
    }
}

}  // namespace v10kx_ami_tx
