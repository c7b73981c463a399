#pragma once
// A causal FIR stage of a signal path, convolved by overlap-save on a transform a few times the
// response's length rather than on one window around the whole block. The stage keeps the inputs
// its response reaches back to, so that a stream cut into blocks of any lengths gives the same
// samples (to rounding) as one long block.
#include <complex>
#include <cstddef>
#include <optional>
#include <vector>

#include "engine/fft/real_fft_plan.hpp"
#include "engine/stages/signal_chain.hpp"

// Transform length for a response of `taps` samples run on blocks of `blockLength` samples: the
// power of two that minimises the modelled cost of the transforms one block needs. The model,
// L log2 L * 1.07^log2 L per pass of L points, was fitted to FFTW times measured on the
// development machine (five stages of 700 taps on blocks of 2^14 samples: 372, 335, 440 and
// 705 us for transforms of 2048, 4096, 8192 and 32768 points); it gives 4096 points for those
// responses on blocks of 2^14 and 2^17 samples. It depends on the two lengths only, so the
// output never depends on timing.
std::size_t ChooseStageTransformLength(std::size_t taps, std::size_t blockLength);

class PartitionedFilterStage : public SignalStage {
  public:
    // `taps`: the response at 0, 1, ... samples after its input, at least one (else
    // std::invalid_argument). The transform length is chosen for `blockLength`
    // (SetBlockLength), or for the first block's length when it is 0; transforms run on `engine`.
    explicit PartitionedFilterStage(std::vector<double> taps, std::size_t blockLength = 0,
                                    FftEngine engine = FftEngine::Fftw);

    // Chooses the transform length for blocks of `blockLength` samples; the history stays.
    void SetBlockLength(std::size_t blockLength);

    void Process(double* samples, std::size_t count) override;

    std::size_t TapCount() const { return taps_.size(); }
    // 0 until a length has been chosen.
    std::size_t TransformLength() const { return plan_ ? plan_->Size() : 0; }

  private:
    void Plan(std::size_t length);

    std::vector<double> taps_;
    FftEngine engine_;
    std::optional<RealFftPlan> plan_;
    std::optional<RealFftBuffer> buffer_;
    std::vector<std::complex<double>> bins_;  // the taps' spectrum, times 1/length
    std::vector<double> history_;             // the last taps - 1 inputs, oldest first
};
