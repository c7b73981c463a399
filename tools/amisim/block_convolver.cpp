#include "amisim/block_convolver.hpp"

#include <stdexcept>

#include "amisim/real_fft.hpp"

namespace amisim {

BlockConvolver::BlockConvolver(std::vector<double> taps) : taps_(std::move(taps)) {
    if (taps_.empty()) throw std::invalid_argument("the channel response is empty");
    history_.assign(taps_.size() - 1, 0.0);
}

const std::vector<std::complex<double>>& BlockConvolver::spectrumFor(std::size_t n) {
    if (n != spectrumSize_) {
        std::vector<double> padded(n, 0.0);
        std::copy(taps_.begin(), taps_.end(), padded.begin());
        spectrum_ = realForward(padded);
        spectrumSize_ = n;
    }
    return spectrum_;
}

void BlockConvolver::process(std::vector<double>& block) {
    if (block.empty()) return;
    const std::size_t h = history_.size();
    const std::size_t len = h + block.size();
    const std::size_t n = nextPowerOfTwo(len);
    std::vector<double> seg(n, 0.0);
    std::copy(history_.begin(), history_.end(), seg.begin());
    std::copy(block.begin(), block.end(), seg.begin() + static_cast<long>(h));
    // keep the newest inputs for the next block before the block is overwritten
    if (h > 0) {
        std::copy(seg.begin() + static_cast<long>(len - h), seg.begin() + static_cast<long>(len),
                  history_.begin());
    }
    std::vector<std::complex<double>> X = realForward(seg);
    const auto& H = spectrumFor(n);
    for (std::size_t k = 0; k < X.size(); ++k) X[k] *= H[k];
    std::vector<double> y = realInverse(X, n);
    // circular wrap only touches the first h outputs, which belong to the history
    std::copy(y.begin() + static_cast<long>(h), y.begin() + static_cast<long>(len), block.begin());
}

}  // namespace amisim
