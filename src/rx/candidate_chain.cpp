#include "rx/candidate_chain.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "engine/stages/overlap_save_chain.hpp"

namespace v10kx_ami_rx {

void GridBins(const StageResponse& stage, std::size_t fftSize, double sampleInterval,
              std::vector<std::complex<double>>& bins) {
    bins.resize(fftSize / 2 + 1);
    StageSampler(stage).SampleGrid(1.0 / (static_cast<double>(fftSize) * sampleInterval),
                                   bins.size(), bins.data());
}

PeriodicCandidateChain::PeriodicCandidateChain(CandidateStageSource& stages, double sampleInterval,
                                               CandidateDfe* dfe)
    : stages_(stages), sampleInterval_(sampleInterval), dfe_(dfe) {}

PeriodicCandidateChain::~PeriodicCandidateChain() = default;

void PeriodicCandidateChain::MakeGridStage(const ChainStage& stage, GridStage& out) const {
    GridBins(stage.response, n_, sampleInterval_, out.bins);
    out.curve = stage.curveIn.empty()
                    ? nullptr
                    : std::make_unique<AmplitudeCurveStage>(stage.curveIn, stage.curveOut);
}

void PeriodicCandidateChain::PlanFor(std::size_t samples) {
    if (samples < 2 || samples % 2 != 0) {
        throw std::invalid_argument(
            "the candidate chain needs an even number of stimulus "
            "samples, not " +
            std::to_string(samples));
    }
    if (samples == n_) return;
    // Another grid: nothing worked out for the old one applies.
    plan_.reset();
    buffer_.reset();
    vgaStages_.clear();
    ctleStages_.clear();
    stimulusBins_.clear();
    haveCtle_ = false;
    n_ = 0;
    plan_ = std::make_unique<RealFftPlan>(samples);
    buffer_ = std::make_unique<RealFftBuffer>(samples);
    n_ = samples;
}

void PeriodicCandidateChain::BeginStimulus(std::span<const double> stimulus) {
    std::size_t period = stimulus.size();
    const std::size_t half = period / 2;
    if (period % 4 == 0 &&
        std::memcmp(stimulus.data(), stimulus.data() + half, half * sizeof(double)) == 0) {
        period = half;
    }
    PlanFor(period);
    stimulus_ = stimulus.data();
    stimulusSize_ = stimulus.size();

    RealFftBuffer& buffer = *buffer_;
    std::copy(stimulus.begin(), stimulus.begin() + static_cast<std::ptrdiff_t>(period),
              buffer.Samples());
    plan_->Forward(buffer);
    const std::size_t bins = buffer.BinCount();
    // The CTLE output was worked out from the stimulus spectrum alone: the same spectrum, the
    // same output.
    const bool same =
        stimulusBins_.size() == bins &&
        std::memcmp(stimulusBins_.data(), buffer.Bins(), bins * sizeof(std::complex<double>)) == 0;
    if (!same) {
        stimulusBins_.assign(buffer.Bins(), buffer.Bins() + bins);
        haveCtle_ = false;
    }
}

void PeriodicCandidateChain::RunCtle(int dc, int boost) {
    if (haveCtle_ && ctleDc_ == dc && ctleBoost_ == boost) return;
    haveCtle_ = false;
    const std::vector<ChainStage> stages = stages_.CtleStages(dc, boost);
    ctleStages_.resize(stages.size());
    for (std::size_t s = 0; s < stages.size(); ++s) MakeGridStage(stages[s], ctleStages_[s]);

    // Each stage: its response on the spectrum, back to samples for its amplitude curve, and
    // forward again for the next stage (the last one's spectrum is what the VGA gains share).
    RealFftBuffer& buffer = *buffer_;
    const std::size_t bins = buffer.BinCount();
    const double scale = 1.0 / static_cast<double>(n_);
    const std::complex<double>* input = stimulusBins_.data();
    for (GridStage& stage : ctleStages_) {
        MultiplySpectrum(input, stage.bins.data(), buffer.Bins(), bins, scale);
        plan_->Inverse(buffer);
        if (stage.curve) stage.curve->Process(buffer.Samples(), n_);
        plan_->Forward(buffer);
        input = buffer.Bins();
    }
    ctleBins_.assign(input, input + bins);
    ctleDc_ = dc;
    ctleBoost_ = boost;
    haveCtle_ = true;
}

const PeriodicCandidateChain::GridStage& PeriodicCandidateChain::Vga(int vga) {
    const auto found = vgaStages_.find(vga);
    if (found != vgaStages_.end()) return found->second;
    GridStage stage;
    MakeGridStage(stages_.VgaStage(vga), stage);
    return vgaStages_.emplace(vga, std::move(stage)).first->second;
}

void PeriodicCandidateChain::Evaluate(std::span<const double> stimulus,
                                      const CandidateSetting& setting, DfeRun dfe,
                                      std::vector<double>& processed) {
    if (stimulus.data() != stimulus_ || stimulus.size() != stimulusSize_) BeginStimulus(stimulus);
    RunCtle(setting.dc, setting.boost);
    const GridStage& vga = Vga(setting.vga);

    RealFftBuffer& buffer = *buffer_;
    MultiplySpectrum(ctleBins_.data(), vga.bins.data(), buffer.Bins(), buffer.BinCount(),
                     1.0 / static_cast<double>(n_));
    plan_->Inverse(buffer);
    processed.resize(stimulusSize_);
    if (vga.curve) {
        vga.curve->Apply(buffer.Samples(), processed.data(), n_);
    } else {
        std::copy(buffer.Samples(), buffer.Samples() + n_, processed.begin());
    }
    // Further periods repeat the first.
    for (std::size_t at = n_; at < stimulusSize_; at += n_) {
        std::copy(processed.begin(), processed.begin() + static_cast<std::ptrdiff_t>(n_),
                  processed.begin() + static_cast<std::ptrdiff_t>(at));
    }
    if (dfe == DfeRun::Adapt && dfe_ != nullptr) dfe_->Equalise(processed);
}

}  // namespace v10kx_ami_rx
