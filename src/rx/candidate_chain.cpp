#include "rx/candidate_chain.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "engine/adaptation/candidate_lanes.hpp"
#include "engine/stages/overlap_save_chain.hpp"
#include "rx/filter_stage.hpp"

namespace v10kx_ami_rx {

PeriodicCandidateChain::PeriodicCandidateChain(CandidateStageSource& stages, double sampleInterval,
                                               CandidateDfe* dfe, std::size_t lanes)
    : stages_(stages),
      sampleInterval_(sampleInterval),
      dfe_(dfe),
      lanes_(std::max<std::size_t>(lanes, 1)) {
    // Each lane needs a DFE of its own.
    if (dfe_ != nullptr && lanes_ > 1) {
        for (std::size_t l = 1; l < lanes_; ++l) {
            std::unique_ptr<CandidateDfe> lane = dfe_->NewLane();
            if (!lane) break;
            laneDfes_.push_back(std::move(lane));
        }
        lanes_ = laneDfes_.size() + 1;
    }
}

PeriodicCandidateChain::~PeriodicCandidateChain() = default;

void PeriodicCandidateChain::MakeGridStage(const ChainStage& stage, GridStage& out) const {
    StageBins(stage.response, n_, sampleInterval_, out.bins);
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
    laneBuffers_.clear();
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

void PeriodicCandidateChain::Prepare(std::span<const double> stimulus,
                                     const CandidateSetting& setting) {
    if (stimulus.data() != stimulus_ || stimulus.size() != stimulusSize_) BeginStimulus(stimulus);
    RunCtle(setting.dc, setting.boost);
}

void PeriodicCandidateChain::RunVga(std::size_t lane, const GridStage& vga, DfeRun dfe,
                                    std::vector<double>& processed) {
    RealFftBuffer& buffer = lane == 0 ? *buffer_ : *laneBuffers_[lane - 1];
    MultiplySpectrum(ctleBins_.data(), vga.bins.data(), buffer.Bins(), buffer.BinCount(),
                     1.0 / static_cast<double>(n_));
    plan_->Inverse(buffer);
    processed.resize(stimulusSize_);
    if (vga.curve) {
        vga.curve->Map(buffer.Samples(), processed.data(), n_);
    } else {
        std::copy(buffer.Samples(), buffer.Samples() + n_, processed.begin());
    }
    // Further periods repeat the first.
    for (std::size_t at = n_; at < stimulusSize_; at += n_) {
        std::copy(processed.begin(), processed.begin() + static_cast<std::ptrdiff_t>(n_),
                  processed.begin() + static_cast<std::ptrdiff_t>(at));
    }
    CandidateDfe* equaliser = lane == 0 ? dfe_ : laneDfes_[lane - 1].get();
    if (dfe == DfeRun::Adapt && equaliser != nullptr) equaliser->Equalise(processed);
}

void PeriodicCandidateChain::Evaluate(std::span<const double> stimulus,
                                      const CandidateSetting& setting, DfeRun dfe,
                                      std::vector<double>& processed) {
    Prepare(stimulus, setting);
    RunVga(0, Vga(setting.vga), dfe, processed);
}

void PeriodicCandidateChain::EvaluateEach(
    std::span<const double> stimulus, std::span<const CandidateSetting> settings, DfeRun dfe,
    std::span<std::vector<double>> processed,
    const std::function<void(std::size_t, std::size_t)>& judge) {
    if (settings.empty()) return;
    Prepare(stimulus, settings[0]);
    // What the lanes share is made before they start: the CTLE output above, the VGA stages
    // and the lanes' buffers here.
    std::vector<const GridStage*> vgas;
    for (const CandidateSetting& s : settings) {
        if (s.dc != settings[0].dc || s.boost != settings[0].boost) {
            throw std::invalid_argument("candidates evaluated together share their CTLE setting");
        }
        vgas.push_back(&Vga(s.vga));
    }
    // The reference engine transforms through process-wide state: one lane only.
    const std::size_t lanes =
        plan_->Engine() == FftEngine::Fftw ? std::min(lanes_, settings.size()) : 1;
    while (laneBuffers_.size() + 1 < lanes) {
        laneBuffers_.push_back(std::make_unique<RealFftBuffer>(n_));
    }
    RunInLanes(settings.size(), lanes, [&](std::size_t i, std::size_t lane) {
        RunVga(lane, *vgas[i], dfe, processed[i]);
        judge(i, lane);
    });
}

}  // namespace v10kx_ami_rx
