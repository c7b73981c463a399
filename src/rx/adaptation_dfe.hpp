#pragma once
// The DFE of the equaliser adaptation: the receiver's own DFE with its clock recovery, set up
// for the adaptation's grid with the DFE map of the receiver's VGA bandwidth. It adapts on every
// candidate of the sweep and, in the second stage, on the chosen setting, whose taps it reports.
#include <memory>
#include <span>
#include <vector>

#include "engine/adaptation/adaptation_interfaces.hpp"
#include "rx/candidate_chain.hpp"
#include "rx/dfe_equaliser.hpp"
#include "rx/dfe_map.hpp"

namespace v10kx_ami_rx {

// What the receiver contributes to the adaptation's DFE besides the adaptation's own settings.
struct AdaptationDfeContext {
    DfeLimits limits;  // of the DFE map; empty when it cannot be read (no DFE is set up then)
    int cdrBandwidth = 0;
    int cdrSel = 0;
    double clockOffset = 2.5;  // samples
};

// Initial tap weights of the adaptation: code_k times the full-scale volts of tap k for the VGA
// bandwidth index (0 .. 3; other indices take row 0) over half the code range of the tap.
std::vector<double> AdaptationStartTaps(const std::vector<int>& codes, int vgaBandwidthIndex);

class AdaptationDfe : public CandidateDfe, public DfeTrainer {
  public:
    // `sweep`: the grid and initial taps of the sweep's candidates.
    AdaptationDfe(const DfeStageSetup& sweep, AdaptationDfeContext context);

    bool Equalise(std::span<double> samples) override;
    std::unique_ptr<CandidateDfe> NewLane() const override;
    // Adapts on `equalised` in place (it is left equalised); the taps are the first tapCount
    // weights of the adaptive filter and their codes.
    DfeStageResult Train(std::span<double> equalised, const DfeStageSetup& setup) override;

  private:
    DfeSetup SetupFor(const DfeStageSetup& stage) const;

    DfeStageSetup sweepStage_;
    DfeSetup sweep_;
    AdaptationDfeContext context_;
    DecisionFeedbackEqualiser dfe_;
};

}  // namespace v10kx_ami_rx
