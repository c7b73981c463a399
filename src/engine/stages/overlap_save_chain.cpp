#include "engine/stages/overlap_save_chain.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

std::shared_ptr<FftWorkspace> Required(std::shared_ptr<FftWorkspace> workspace) {
    if (!workspace) throw std::invalid_argument("a stage on an FFT grid needs its workspace");
    return workspace;
}

}  // namespace

void MultiplySpectrum(const std::complex<double>* x, const std::complex<double>* h,
                      std::complex<double>* out, std::size_t count, double scale) {
    // Written out so that it vectorises (std::complex multiplication goes through a library
    // call for infinities). `out` may be `x`.
    const double* xd = reinterpret_cast<const double*>(x);
    const double* __restrict hd = reinterpret_cast<const double*>(h);
    double* od = reinterpret_cast<double*>(out);
    for (std::size_t k = 0; k < count; ++k) {
        const double a = xd[2 * k];
        const double b = xd[2 * k + 1];
        const double c = hd[2 * k];
        const double d = hd[2 * k + 1];
        od[2 * k] = (a * c - b * d) * scale;
        od[2 * k + 1] = (a * d + b * c) * scale;
    }
}

void MultiplySpectrum(std::complex<double>* x, const std::complex<double>* h, std::size_t count,
                      double scale) {
    MultiplySpectrum(x, h, x, count, scale);
}

SpectrumStage::SpectrumStage(std::vector<std::complex<double>> bins,
                             std::shared_ptr<FftWorkspace> workspace)
    : bins_(std::move(bins)), workspace_(Required(std::move(workspace))) {
    const std::size_t n = workspace_->Size();
    if (bins_.size() != n / 2 + 1) {
        throw std::invalid_argument(std::to_string(bins_.size()) + " bins do not fit a grid of " +
                                    std::to_string(n) + " points");
    }
}

std::unique_ptr<SpectrumStage> SpectrumStage::FromTaps(const std::vector<double>& taps,
                                                       std::shared_ptr<FftWorkspace> workspace) {
    workspace = Required(std::move(workspace));
    const std::size_t n = workspace->Size();
    if (taps.empty() || taps.size() > n) {
        throw std::invalid_argument("a response of " + std::to_string(taps.size()) +
                                    " samples does not fit a grid of " + std::to_string(n) +
                                    " points");
    }
    RealFftBuffer& buffer = workspace->Buffer();
    std::fill(buffer.Samples(), buffer.Samples() + n, 0.0);
    std::copy(taps.begin(), taps.end(), buffer.Samples());
    workspace->Plan().Forward(buffer);
    std::vector<std::complex<double>> bins(buffer.Bins(), buffer.Bins() + buffer.BinCount());
    return std::make_unique<SpectrumStage>(std::move(bins), std::move(workspace));
}

void SpectrumStage::Process(double* samples, std::size_t count) {
    const std::size_t n = workspace_->Size();
    if (count != n) {
        throw std::invalid_argument("a window of " + std::to_string(count) +
                                    " samples on a grid of " + std::to_string(n) + " points");
    }
    RealFftBuffer& buffer = workspace_->Buffer();
    const bool inPlace = samples == buffer.Samples();
    if (!inPlace) std::copy(samples, samples + n, buffer.Samples());
    workspace_->Plan().Forward(buffer);
    MultiplySpectrum(buffer.Bins(), bins_.data(), bins_.size(), 1.0 / static_cast<double>(n));
    workspace_->Plan().Inverse(buffer);
    if (!inPlace) std::copy(buffer.Samples(), buffer.Samples() + n, samples);
}

OverlapSaveChain::OverlapSaveChain(std::shared_ptr<FftWorkspace> workspace,
                                   std::size_t historyLength, std::size_t lookAhead)
    : workspace_(Required(std::move(workspace))),
      historyLength_(historyLength),
      lookAhead_(std::min(lookAhead, historyLength)) {
    if (historyLength_ >= workspace_->Size()) {
        throw std::invalid_argument("a history of " + std::to_string(historyLength_) +
                                    " samples leaves no room in a transform of " +
                                    std::to_string(workspace_->Size()) + " points");
    }
    inputs_.assign(workspace_->Size(), 0.0);
}

void OverlapSaveChain::Append(std::unique_ptr<SignalStage> stage) {
    if (auto* spectral = dynamic_cast<SpectrumStage*>(stage.get())) {
        if (spectral->Workspace() != workspace_) {
            throw std::invalid_argument("a spectrum stage of another grid joined the chain");
        }
    }
    stages_.push_back(std::move(stage));
}

void OverlapSaveChain::Process(double* samples, std::size_t count) {
    const std::size_t n = workspace_->Size();
    double* window = workspace_->Buffer().Samples();
    for (std::size_t done = 0; done < count;) {
        const std::size_t c = std::min(BlockCapacity(), count - done);
        std::copy(inputs_.begin() + static_cast<std::ptrdiff_t>(c), inputs_.end(), inputs_.begin());
        std::copy(samples + done, samples + done + c,
                  inputs_.end() - static_cast<std::ptrdiff_t>(c));
        std::copy(inputs_.begin(), inputs_.end(), window);
        // Circularly the window reads: block, its guessed continuation, older inputs. Every
        // stage then carries the guess through its own dynamics.
        std::fill(window, window + lookAhead_, window[n - 1]);
        for (const auto& stage : stages_) stage->Process(window, n);
        std::copy(window + (n - c), window + n, samples + done);
        done += c;
    }
}

void OverlapSaveChain::CarryHistoryFrom(const OverlapSaveChain& older) {
    const std::vector<double>& old = older.inputs_;
    const std::size_t keep = std::min(old.size(), inputs_.size());
    std::fill(inputs_.begin(), inputs_.end() - static_cast<std::ptrdiff_t>(keep), 0.0);
    std::copy(old.end() - static_cast<std::ptrdiff_t>(keep), old.end(),
              inputs_.end() - static_cast<std::ptrdiff_t>(keep));
}

void FilterCascadeFromSilence(const std::vector<const SpectrumStage*>& stages,
                              std::size_t historyLength, double* samples, std::size_t count) {
    if (stages.empty() || count == 0) return;
    FftWorkspace& workspace = *stages.front()->Workspace();
    const std::size_t n = workspace.Size();
    for (const SpectrumStage* s : stages) {
        if (s->FftSize() != n)
            throw std::invalid_argument("the stages of a cascade differ in grid");
    }
    if (historyLength > n || count > n - historyLength) {
        throw std::invalid_argument(
            std::to_string(count) + " samples after " + std::to_string(historyLength) +
            " of silence do not fit a transform of " + std::to_string(n) + " points");
    }
    RealFftBuffer& buffer = workspace.Buffer();
    double* window = buffer.Samples();
    std::fill(window, window + n, 0.0);
    std::copy(samples, samples + count, window + historyLength);
    workspace.Plan().Forward(buffer);
    for (std::size_t k = 0; k < stages.size(); ++k) {
        const double scale = k + 1 == stages.size() ? 1.0 / static_cast<double>(n) : 1.0;
        MultiplySpectrum(buffer.Bins(), stages[k]->Bins().data(), buffer.BinCount(), scale);
    }
    workspace.Plan().Inverse(buffer);
    std::copy(window + historyLength, window + historyLength + count, samples);
}
