#pragma once
// The transmitter's input in time-domain mode: the bits as NRZ levels, with the edges moved by
// the transmitter's own jitter so that both simulation modes see the same jitter budget.
#include <cstdint>
#include <random>
#include <vector>

namespace amisim {

// Edge jitter in seconds, in the models' terms: rjRms is the Gaussian standard deviation, dj the
// offset of each Dirac of a dual Dirac (half of its peak to peak: every edge moves by +dj or
// -dj at random), dcd half the duty-cycle distortion (rising edges move late by dcd, falling
// edges early by dcd).
struct EdgeJitter {
    double rjRms = 0;
    double dj = 0;
    double dcd = 0;
    bool any() const { return rjRms > 0 || dj > 0 || dcd > 0; }
};

class NrzStimulus {
  public:
    // Levels +amplitude for a 1, -amplitude for a 0. Edges stay within 0.45 UI of their place.
    NrzStimulus(const std::vector<bool>& bits, int samplesPerBit, double sampleInterval,
                double amplitude, const EdgeJitter& jitter, std::uint64_t seed);

    // Writes the samples of the next `count` bits into `wave` (resized to count * samplesPerBit).
    // Successive calls continue the waveform. A sample that an edge crosses holds the average of
    // the two levels over the sample interval, so edges move by fractions of a sample.
    void next(std::uint64_t count, std::vector<double>& wave);

  private:
    double level(std::uint64_t k) const;
    double drawEdge(std::uint64_t k);  // offset of the edge that starts bit k, in samples

    const std::vector<bool>& bits_;
    int spb_;
    double dt_;
    double amplitude_;
    EdgeJitter jitter_;
    std::mt19937_64 rng_;
    std::normal_distribution<double> normal_{0.0, 1.0};
    std::uint64_t nextBit_ = 0;
    double startEdge_ = 0;  // offset of the edge that starts bit nextBit_
};

}  // namespace amisim
