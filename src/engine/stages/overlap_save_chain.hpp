#pragma once
// Filtering a stream of blocks on one FFT grid by overlap-save. A block is processed together
// with the inputs that preceded it (the window); the outputs of the block come from the end of
// the window, where the circular wrap of the responses has not reached. Feeding a signal in
// blocks of any sizes gives the same samples as one long block, as far as the history covers
// the responses.
//
// The stages of a chain all work on the whole window, so every block runs the cascade again
// over the end of the previous block, now that its continuation is known. Sampled stage
// responses ring a little before their time zero; a stage working on its own history would
// keep the previous block's last outputs as they came out without that continuation.
#include <complex>
#include <cstddef>
#include <memory>
#include <vector>

#include "engine/fft/real_fft_plan.hpp"
#include "engine/stages/signal_chain.hpp"

// The transforms of one grid and the window they work on, shared by the stages of a chain
// (which run one after another, never at once).
class FftWorkspace {
  public:
    explicit FftWorkspace(std::size_t fftSize, FftEngine engine = FftEngine::Fftw)
        : plan_(fftSize, engine), buffer_(fftSize) {}
    std::size_t Size() const { return plan_.Size(); }
    const RealFftPlan& Plan() const { return plan_; }
    RealFftBuffer& Buffer() { return buffer_; }

  private:
    RealFftPlan plan_;
    RealFftBuffer buffer_;
};

// x[k] <- x[k] * h[k] * scale for k < count: a spectrum times a stage's bins, the arithmetic of
// every stage of a chain.
void MultiplySpectrum(std::complex<double>* x, const std::complex<double>* h, std::size_t count,
                      double scale);
// out[k] = x[k] * h[k] * scale, the same arithmetic into another array.
void MultiplySpectrum(const std::complex<double>* x, const std::complex<double>* h,
                      std::complex<double>* out, std::size_t count, double scale);

// A linear stage on a grid: a window of the grid's length is transformed, multiplied by the
// stage's spectrum and transformed back (a circular convolution), in place.
class SpectrumStage : public SignalStage {
  public:
    // `bins`: the response at k / (fftSize * sampleInterval) Hz, k = 0 .. fftSize/2, the
    // unscaled transform of its samples. std::invalid_argument when they do not fit the grid.
    SpectrumStage(std::vector<std::complex<double>> bins, std::shared_ptr<FftWorkspace> workspace);

    // The discrete response `taps` on a grid of `fftSize` points (at least taps.size()).
    static std::unique_ptr<SpectrumStage> FromTaps(const std::vector<double>& taps,
                                                   std::shared_ptr<FftWorkspace> workspace);

    // `count` must be the grid's length. Works without copies on the workspace's own window.
    void Process(double* samples, std::size_t count) override;

    std::size_t FftSize() const { return workspace_->Size(); }
    const std::vector<std::complex<double>>& Bins() const { return bins_; }
    const std::shared_ptr<FftWorkspace>& Workspace() const { return workspace_; }

  private:
    std::vector<std::complex<double>> bins_;
    std::shared_ptr<FftWorkspace> workspace_;
};

class OverlapSaveChain : public SignalStage {
  public:
    // At least `historyLength` (< fftSize) inputs precede every block in its window, so blocks
    // of up to fftSize - historyLength samples take one pass; longer ones are split.
    //
    // What a response rings before its time zero wraps around the window onto its oldest inputs,
    // where it would meet samples long past instead of the block's continuation, which is not
    // known yet. So the oldest `lookAhead` inputs of the window (at most historyLength) are
    // replaced by the block's newest input, held: the best guess of how the signal goes on that
    // the block's last samples can have. The causal part of the responses then has
    // historyLength - lookAhead inputs behind every block.
    OverlapSaveChain(std::shared_ptr<FftWorkspace> workspace, std::size_t historyLength,
                     std::size_t lookAhead = 0);

    // Stages run in order on every window: SpectrumStages of this chain's grid, and stages that
    // work sample by sample (amplitude curves).
    void Append(std::unique_ptr<SignalStage> stage);

    void Process(double* samples, std::size_t count) override;

    // Takes over the newest inputs `older` has seen, aligned to the end; where this chain keeps
    // more, it starts with zeros.
    void CarryHistoryFrom(const OverlapSaveChain& older);

    std::size_t FftSize() const { return workspace_->Size(); }
    std::size_t HistoryLength() const { return historyLength_; }
    std::size_t BlockCapacity() const { return FftSize() - historyLength_; }
    std::size_t StageCount() const { return stages_.size(); }
    const std::shared_ptr<FftWorkspace>& Workspace() const { return workspace_; }

  private:
    std::shared_ptr<FftWorkspace> workspace_;
    std::size_t historyLength_;
    std::size_t lookAhead_;
    std::vector<double> inputs_;  // the newest fftSize inputs, oldest first
    std::vector<std::unique_ptr<SignalStage>> stages_;
};

// The linear cascade of `stages` (all on one grid) applied to `count` samples that follow
// `historyLength` samples of silence in the window, with one forward and one inverse transform
// whatever the number of stages. count + historyLength must not exceed the grid's length.
void FilterCascadeFromSilence(const std::vector<const SpectrumStage*>& stages,
                              std::size_t historyLength, double* samples, std::size_t count);
