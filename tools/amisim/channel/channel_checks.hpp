#pragma once
// Checks of a measured channel before it is trusted: does the file cover the frequencies the
// bit rate needs, is it passive, is its response causal, and does its through path pass the
// signal at low frequency as a line does.
#include <complex>
#include <string>
#include <vector>

#include "amisim/channel/touchstone.hpp"

namespace amisim {

struct ChannelCheck {
    double firstHz = 0, lastHz = 0;
    double maxGain = 0;  // largest singular value of the S-matrix over all points
    double maxGainAtHz = 0;
    double nonCausalEnergy = 0;     // share of the impulse energy found before time zero
    double lowFrequencyLossDb = 0;  // -20 log10 |SDD21| at the first point
    std::vector<std::string> warnings;
};

// Largest singular value of a 4x4 complex matrix (row-major): above 1 the network gains energy.
double largestSingularValue(const std::array<std::complex<double>, 16>& s);

// Share of the energy of the band-limited impulse response of h (frequencies ascending, Hz)
// that falls before time zero, ignoring the few samples that any band limit smears around it.
double nonCausalEnergy(const std::vector<double>& freqs,
                       const std::vector<std::complex<double>>& h);

ChannelCheck checkMeasuredChannel(const FourPortData& data,
                                  const std::vector<std::complex<double>>& sdd21, double bitRate);

}  // namespace amisim
