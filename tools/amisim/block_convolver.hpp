#pragma once
// Block-wise convolution with a fixed response by overlap-save, continuous across blocks:
// feeding a signal in blocks of any sizes gives the same samples as one long block.
#include <complex>
#include <cstddef>
#include <vector>

namespace amisim {

class BlockConvolver {
  public:
    // `taps`: the discrete response (impulse samples times the sample interval).
    explicit BlockConvolver(std::vector<double> taps);
    void process(std::vector<double>& block);  // in place

  private:
    const std::vector<std::complex<double>>& spectrumFor(std::size_t n);
    std::vector<double> taps_;
    std::vector<double> history_;  // last taps_.size() - 1 input samples
    std::size_t spectrumSize_ = 0;
    std::vector<std::complex<double>> spectrum_;
};

}  // namespace amisim
