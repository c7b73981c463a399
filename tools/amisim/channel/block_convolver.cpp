#include "amisim/channel/block_convolver.hpp"

#include <stdexcept>

#include "engine/stages/overlap_save_chain.hpp"

namespace amisim {

namespace {

std::size_t transformLength(std::size_t taps) {
    std::size_t n = 1u << 14;
    while (n < 4 * taps) n <<= 1;
    return n;
}

}  // namespace

BlockConvolver::BlockConvolver(std::vector<double> taps) {
    if (taps.empty()) throw std::invalid_argument("the channel response is empty");
    auto workspace = std::make_shared<FftWorkspace>(transformLength(taps.size()));
    chain_ = std::make_unique<OverlapSaveChain>(workspace, taps.size() - 1);
    chain_->Append(SpectrumStage::FromTaps(taps, workspace));
}

BlockConvolver::~BlockConvolver() = default;

void BlockConvolver::process(std::vector<double>& block) {
    chain_->Process(block.data(), block.size());
}

std::size_t BlockConvolver::fftSize() const { return chain_->FftSize(); }

}  // namespace amisim
