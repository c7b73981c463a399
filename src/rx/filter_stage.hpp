#pragma once
// CTLE and VGA stages as filter stages of the receiver's signal path, and the input history
// their cascade needs.
#include <complex>
#include <cstddef>
#include <memory>
#include <vector>

#include "engine/stages/overlap_save_chain.hpp"
#include "rx/stage_response.hpp"

namespace v10kx_ami_rx {

// The stage response at the bins k / (fftSize * sampleInterval), k = 0 .. fftSize/2: the one
// way a stage reaches a transform grid, for the receiver's chain and the adaptation's
// candidates alike. The second form reuses the storage of `bins` (resized).
std::vector<std::complex<double>> StageBins(const StageResponse& stage, std::size_t fftSize,
                                            double sampleInterval);
void StageBins(const StageResponse& stage, std::size_t fftSize, double sampleInterval,
               std::vector<std::complex<double>>& bins);

// The stage as a filter on the grid of `workspace`.
std::unique_ptr<SpectrumStage> MakeFilterStage(const StageResponse& stage, double sampleInterval,
                                               std::shared_ptr<FftWorkspace> workspace);

// Samples of input history the cascade of `stages` needs (`history`), and how far it rings ahead
// of its input, which the window must leave room for (`lookAhead`, the look-ahead of
// OverlapSaveChain); both judged from its impulse response on a grid long enough to hold it: the
// shortest span for which leaving out the rest of the response would change a random bit stream
// of 1 V swing (samplesPerBit samples per bit) by less than kHistoryErrorPerVolt, taken as four
// standard deviations of the change. Each at most kMaxCascadeHistory samples; 0 without stages.
inline constexpr double kHistoryErrorPerVolt = 5e-5;
inline constexpr std::size_t kMaxCascadeHistory = std::size_t{1} << 18;
struct CascadeSpan {
    std::size_t history = 0;
    std::size_t lookAhead = 0;
};
CascadeSpan MeasureCascadeSpan(const std::vector<StageResponse>& stages, double sampleInterval,
                               double samplesPerBit);

// Each stage of the cascade as a causal FIR response, for filters that keep their own history:
// the stage's impulse response (sampled on a grid long enough to hold it) cut where the rest
// would change a random bit stream of 1 V swing at the cascade's output by less than its share
// of kHistoryErrorPerVolt (the later stages' low-frequency gain taken into account). What the
// sampled response rings before time zero cannot wait for inputs still to come: it is added to
// the tap at time zero, which keeps the stage's DC gain.
std::vector<std::vector<double>> CascadeStageTaps(const std::vector<StageResponse>& stages,
                                                  double sampleInterval, double samplesPerBit);

}  // namespace v10kx_ami_rx
