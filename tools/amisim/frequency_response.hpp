#pragma once
// Frequency responses of the link's parts from the impulse responses the simulation holds: the
// channel, the channel after the transmitter's AMI_Init, and after the receiver's. The
// transmitter's and receiver's own responses are the ratios of those spectra.
#include <complex>
#include <vector>

namespace amisim {

// H(f) = sum h[n] dt e^{-j 2 pi f n dt} of an impulse (1/s) sampled every dt, at each f.
std::vector<std::complex<double>> impulseSpectrum(const std::vector<double>& impulse, double dt,
                                                  const std::vector<double>& hz);

struct LinkFrequencyResponse {
    std::vector<double> hz;
    // dB; NaN where a part is unknown (a model that does not return its impulse) or where the
    // spectrum it is divided by is too small to give a meaningful ratio
    std::vector<double> channelDb, txDb, rxDb, linkDb;
};

// `txOut` is the impulse after the transmitter's AMI_Init, `linkOut` after both models'. A
// model that does not return its impulse (`txKnown`, `rxKnown` false) passes it on unchanged,
// and its own response is unknown. `points` frequencies from fMax/points to fMax.
LinkFrequencyResponse linkFrequencyResponse(const std::vector<double>& channel,
                                            const std::vector<double>& txOut,
                                            const std::vector<double>& linkOut, double dt,
                                            double fMax, int points, bool txKnown = true,
                                            bool rxKnown = true);

}  // namespace amisim
