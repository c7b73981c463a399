#include "rx/candidate_chain.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "engine/stages/overlap_save_chain.hpp"

namespace v10kx_ami_rx {

// One lane: its transform buffer, the CTLE output of the setting it ran last, and its DFE.
class PeriodicCandidateChain::LaneChain : public CandidateEvaluator {
  public:
    LaneChain(PeriodicCandidateChain& chain, CandidateDfe* dfe)
        : chain_(chain), dfe_(dfe), buffer_(chain.n_) {}

    // The announced stimulus only (the chain itself takes any).
    void Evaluate(std::span<const double> stimulus, const CandidateSetting& setting, DfeRun dfe,
                  SampleBuffer& processed) override {
        if (!chain_.IsAnnounced(stimulus)) {
            throw std::invalid_argument(
                "a lane of the candidate chain evaluates only the "
                "announced stimulus");
        }
        RunCtle(setting.dc, setting.boost);
        RunVga(chain_.Vga(setting.vga), dfe, processed);
    }

    RealFftBuffer& Buffer() { return buffer_; }

  private:
    // Each stage: its response on the spectrum, back to samples for its amplitude curve, and
    // forward again for the next stage (the last one's spectrum is what the VGA gains share).
    void RunCtle(int dc, int boost) {
        if (haveCtle_ && ctleDc_ == dc && ctleBoost_ == boost &&
            ctleSpectrum_ == chain_.stimulusSpectrum_) {
            return;
        }
        haveCtle_ = false;
        const std::vector<ChainStage> stages = chain_.CtleStages(dc, boost);
        const RealFftPlan& plan = *chain_.plan_;
        const std::size_t n = chain_.n_;
        const std::size_t bins = buffer_.BinCount();
        const double scale = 1.0 / static_cast<double>(n);
        const std::complex<double>* input = chain_.stimulusBins_.data();
        for (const ChainStage& stage : stages) {
            // One stage's grid at a time: each is used once per visit.
            chain_.SampleStage(stage.response, stageBins_);
            MultiplySpectrum(input, stageBins_.data(), buffer_.Bins(), bins, scale);
            plan.Inverse(buffer_);
            if (!stage.curveIn.empty()) {
                AmplitudeCurveStage(stage.curveIn, stage.curveOut).Process(buffer_.Samples(), n);
            }
            plan.Forward(buffer_);
            input = buffer_.Bins();
        }
        ctleBins_.assign(input, input + bins);
        ctleDc_ = dc;
        ctleBoost_ = boost;
        ctleSpectrum_ = chain_.stimulusSpectrum_;
        haveCtle_ = true;
    }

    // The VGA stage, its curve and the DFE on the CTLE output.
    void RunVga(const GridStage& vga, DfeRun dfe, SampleBuffer& processed) {
        const std::size_t n = chain_.n_;
        MultiplySpectrum(ctleBins_.data(), vga.bins.data(), buffer_.Bins(), buffer_.BinCount(),
                         1.0 / static_cast<double>(n));
        chain_.plan_->Inverse(buffer_);
        processed.resize(chain_.stimulusSize_);
        if (vga.curve) {
            vga.curve->Map(buffer_.Samples(), processed.data(), n);
        } else {
            std::copy(buffer_.Samples(), buffer_.Samples() + n, processed.begin());
        }
        // Further periods repeat the first.
        for (std::size_t at = n; at < chain_.stimulusSize_; at += n) {
            std::copy(processed.begin(), processed.begin() + static_cast<std::ptrdiff_t>(n),
                      processed.begin() + static_cast<std::ptrdiff_t>(at));
        }
        if (dfe == DfeRun::Adapt && dfe_ != nullptr) dfe_->Equalise(processed);
    }

    PeriodicCandidateChain& chain_;
    CandidateDfe* dfe_;
    RealFftBuffer buffer_;
    Bins stageBins_;
    Bins ctleBins_;  // spectrum of the CTLE output of (dc, boost)
    bool haveCtle_ = false;
    int ctleDc_ = 0;
    int ctleBoost_ = 0;
    std::uint64_t ctleSpectrum_ = 0;  // the stimulus spectrum it was worked out from
};

PeriodicCandidateChain::PeriodicCandidateChain(CandidateStageSource& stages, double sampleInterval,
                                               CandidateDfe* dfe, std::size_t lanes)
    : stages_(stages),
      sampleInterval_(sampleInterval),
      lanes_(std::max<std::size_t>(lanes, 1)),
      firstDfe_(dfe) {
    laneDfes_.push_back(nullptr);
    // Each lane needs a DFE of its own.
    if (dfe != nullptr && lanes_ > 1) {
        for (std::size_t l = 1; l < lanes_; ++l) {
            std::unique_ptr<CandidateDfe> lane = dfe->NewLane();
            if (!lane) break;
            laneDfes_.push_back(std::move(lane));
        }
        lanes_ = laneDfes_.size();
    }
}

PeriodicCandidateChain::~PeriodicCandidateChain() = default;

std::size_t PeriodicCandidateChain::Lanes() const {
    // The reference engine transforms through process-wide state: one lane only.
    return plan_ && plan_->Engine() != FftEngine::Fftw ? 1 : lanes_;
}

CandidateEvaluator& PeriodicCandidateChain::Lane(std::size_t lane) {
    if (lane == 0 || lane >= Lanes()) return *this;
    if (n_ == 0) throw std::invalid_argument("the candidate chain's lanes need a stimulus first");
    if (laneChains_.size() <= lane) laneChains_.resize(lane + 1);
    if (!laneChains_[lane]) {
        laneChains_[lane] = std::make_unique<LaneChain>(*this, laneDfes_[lane].get());
    }
    return *laneChains_[lane];
}

std::vector<ChainStage> PeriodicCandidateChain::CtleStages(int dc, int boost) {
    const std::lock_guard<std::mutex> lock(stagesMutex_);
    return stages_.CtleStages(dc, boost);
}

const PeriodicCandidateChain::GridStage& PeriodicCandidateChain::Vga(int vga) {
    const std::lock_guard<std::mutex> lock(vgaMutex_);
    const auto found = vgaStages_.find(vga);
    if (found != vgaStages_.end()) return found->second;
    ChainStage stage;
    {
        const std::lock_guard<std::mutex> sourceLock(stagesMutex_);
        stage = stages_.VgaStage(vga);
    }
    GridStage grid;
    SampleStage(stage.response, grid.bins);
    grid.curve = stage.curveIn.empty()
                     ? nullptr
                     : std::make_unique<AmplitudeCurveStage>(stage.curveIn, stage.curveOut);
    return vgaStages_.emplace(vga, std::move(grid)).first->second;
}

void PeriodicCandidateChain::SampleStage(const StageResponse& stage, Bins& bins) const {
    // As StageBins samples the receiver's own stages, into memory of the candidates' kind.
    bins.resize(n_ / 2 + 1);
    StageSampler(stage).SampleGrid(1.0 / (static_cast<double>(n_) * sampleInterval_), bins.size(),
                                   bins.data());
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
    laneChains_.clear();
    vgaStages_.clear();
    stimulusBins_.clear();
    n_ = 0;
    plan_ = std::make_unique<RealFftPlan>(samples);
    n_ = samples;
    laneChains_.push_back(std::make_unique<LaneChain>(*this, firstDfe_));
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

    RealFftBuffer& buffer = laneChains_[0]->Buffer();
    std::copy(stimulus.begin(), stimulus.begin() + static_cast<std::ptrdiff_t>(period),
              buffer.Samples());
    plan_->Forward(buffer);
    const std::size_t bins = buffer.BinCount();
    // The CTLE outputs were worked out from the stimulus spectrum alone: the same spectrum, the
    // same outputs.
    const bool same =
        stimulusBins_.size() == bins &&
        std::memcmp(stimulusBins_.data(), buffer.Bins(), bins * sizeof(std::complex<double>)) == 0;
    if (!same) {
        stimulusBins_.assign(buffer.Bins(), buffer.Bins() + bins);
        ++stimulusSpectrum_;
    }
}

void PeriodicCandidateChain::Evaluate(std::span<const double> stimulus,
                                      const CandidateSetting& setting, DfeRun dfe,
                                      SampleBuffer& processed) {
    if (!IsAnnounced(stimulus)) BeginStimulus(stimulus);
    laneChains_[0]->Evaluate(stimulus, setting, dfe, processed);
}

}  // namespace v10kx_ami_rx
