#pragma once
// Frequency responses of the link's parts from the impulse responses the simulation holds: the
// channel, the channel after the transmitter's AMI_Init, and after the receiver's. The
// transmitter's and receiver's own responses are the ratios of those spectra.
#include <complex>
#include <vector>

namespace amisim {

struct LinkFrequencyResponse {
    std::vector<double> hz;
    // dB; NaN where a part is unknown (a model that does not return its impulse) or where the
    // spectrum it is divided by is too small to give a meaningful ratio
    std::vector<double> channelDb, txDb, rxDb, linkDb;
};

// `txOut` is the impulse after the transmitter's AMI_Init, `linkOut` after both models'. A
// model that does not return its impulse (`txKnown`, `rxKnown` false) passes it on unchanged,
// and its own response is unknown. About `points` frequencies up to fMax, on the grid of a
// transform of the longest impulse (zero-padded to a power of two).
LinkFrequencyResponse linkFrequencyResponse(const std::vector<double>& channel,
                                            const std::vector<double>& txOut,
                                            const std::vector<double>& linkOut, double dt,
                                            double fMax, int points, bool txKnown = true,
                                            bool rxKnown = true);

}  // namespace amisim
