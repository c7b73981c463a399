#pragma once
// The channel between the two models: a built-in lossy differential line or the
// differential insertion loss of a four-port Touchstone file, as a sampled impulse response.
#include <complex>
#include <string>
#include <vector>

#include "amisim/channel/touchstone.hpp"

namespace amisim {

struct ChannelImpulse {
    // IBIS-AMI impulse samples (1/s): sum(impulse) * sampleInterval is the DC gain.
    std::vector<double> impulse;
    double sampleInterval = 0;
    std::string description;
};

struct LossyLineOptions {
    double lossDbAtNyquist = 20.0;
    double nyquistHz = 5.15625e9;
    // Share of the Nyquist loss from the skin effect (sqrt f); the rest is dielectric (f).
    double skinFraction = 0.35;
    double skinOnsetHz = 50e6;
};

// Loss of the line in dB at frequency f (positive numbers are attenuation).
double lossyLineLossDb(const LossyLineOptions& opt, double f);

// Minimum-phase (hence causal) line whose magnitude follows lossyLineLossDb, built on a
// fine frequency grid by the folded-cepstrum method, then truncated where it has decayed
// and tapered. Its length is a multiple of samplesPerBit.
ChannelImpulse buildLossyLine(const LossyLineOptions& opt, double sampleInterval,
                              int samplesPerBit);

// Impulse response of a sampled transfer function (frequencies ascending, Hz): magnitude and
// unwrapped phase interpolated onto the FFT grid, tapered to zero towards the last point.
ChannelImpulse buildFromTransferFunction(const std::vector<double>& freqs,
                                         const std::vector<std::complex<double>>& h,
                                         double sampleInterval, int samplesPerBit);

ChannelImpulse buildFromS4p(const std::string& path, PortOrder order, double sampleInterval,
                            int samplesPerBit);

// Response of a sampled impulse at frequency f: sum impulse[n] dt e^{-j 2 pi f n dt}.
std::complex<double> frequencyResponse(const ChannelImpulse& ch, double f);

}  // namespace amisim
