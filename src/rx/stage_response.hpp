#pragma once
// A CTLE or VGA stage as characterised: its frequency response at ascending frequencies, and the
// sampling of that response at any frequency of an FFT grid.
#include <complex>
#include <utility>
#include <vector>

namespace v10kx_ami_rx {

using StagePoint = std::pair<double, std::complex<double>>;  // (Hz, response)
using StageResponse = std::vector<StagePoint>;               // ascending frequencies

// The response at frequency f >= 0: linear in magnitude and phase between points, falling as 1/f
// with the phase slope of the last intervals above the last point. The magnitudes, phases and
// the top phase slope of the points are worked out once, for many frequencies of one stage.
class StageSampler {
  public:
    explicit StageSampler(const StageResponse& stage);
    std::complex<double> operator()(double f) const;

    // out[k] = the response at k * spacing, k = 0 .. count - 1, as operator() gives it up to a
    // few units in the last place: within each interval between points (and above the last one)
    // the phase grows by the same angle from bin to bin, so the unit phasor is rotated by it and
    // worked out afresh every few bins, instead of a cosine and a sine per bin.
    void SampleGrid(double spacing, std::size_t count, std::complex<double>* out) const;

  private:
    const StageResponse& points_;
    std::vector<double> magnitudes_;
    std::vector<double> phases_;
    double topSlope_ = 0;
};

}  // namespace v10kx_ami_rx
