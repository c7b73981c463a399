#pragma once
// Block-wise convolution with a fixed response by overlap-save, continuous across blocks:
// feeding a signal in blocks of any sizes gives the same samples as one long block.
#include <cstddef>
#include <memory>
#include <vector>

class OverlapSaveChain;

namespace amisim {

class BlockConvolver {
  public:
    // `taps`: the discrete response (impulse samples times the sample interval).
    explicit BlockConvolver(std::vector<double> taps);
    ~BlockConvolver();
    void process(std::vector<double>& block);  // in place

    // Transform length used: at least four times the response, so that the history takes at
    // most a quarter of every transform.
    std::size_t fftSize() const;

  private:
    std::unique_ptr<OverlapSaveChain> chain_;
};

}  // namespace amisim
