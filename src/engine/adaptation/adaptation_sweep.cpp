#include "engine/adaptation/adaptation_sweep.hpp"

#include <algorithm>
#include <utility>

namespace {

// Runs candidates with their VGA gain chosen by the VGA mode. The VGA candidates of a setting
// run in waves of as many as the evaluator has lanes, each judged on the lane that made it; the
// judgements are then offered in VGA order, so the choice does not depend on the lanes. The
// buffers are reused from candidate to candidate: the cheapest VGA candidate's output stays in
// `best` while the next waves are evaluated into `current`.
class CandidateRunner {
  public:
    CandidateRunner(CandidateEvaluator& evaluator, std::span<const double> stimulus,
                    const VgaModeDecision& vgaMode, std::size_t vgaCount, double vgaTarget,
                    const EyeWindow& window)
        : evaluator_(evaluator),
          stimulus_(stimulus),
          vgaMode_(vgaMode),
          vgaCount_(vgaCount),
          selector_(vgaTarget, window) {
        const std::size_t lanes = std::clamp<std::size_t>(evaluator.Lanes(), 1, vgaCount);
        current_.resize(lanes);
        judgements_.resize(lanes);
        meters_.resize(lanes);
    }

    // Evaluates (dc, boost) and returns the VGA index used; the waveform is Output().
    int Run(int dc, int boost, DfeRun dfe) {
        if (vgaMode_.kind == VgaModeDecision::Kind::Fixed) {
            RunExactly({dc, boost, vgaMode_.index}, dfe);
            return vgaMode_.index;
        }
        selector_.Reset();
        const std::size_t wave = current_.size();
        for (std::size_t first = 0; first < vgaCount_; first += wave) {
            const std::size_t count = std::min(wave, vgaCount_ - first);
            settings_.clear();
            for (std::size_t g = first; g < first + count; ++g) {
                settings_.push_back({dc, boost, static_cast<int>(g)});
            }
            evaluator_.EvaluateEach(
                stimulus_, settings_, dfe, std::span<std::vector<double>>(current_.data(), count),
                [this](std::size_t i, std::size_t lane) {
                    judgements_[i] =
                        JudgeVgaCandidate(meters_[lane % meters_.size()], selector_.Window(),
                                          selector_.Target(), current_[i]);
                });
            for (std::size_t i = 0; i < count; ++i) {
                if (selector_.Offer(static_cast<int>(first + i), judgements_[i])) {
                    std::swap(current_[i], best_);
                }
            }
        }
        analysed_ = true;
        return selector_.Best();
    }

    // Evaluates one setting exactly as given.
    void RunExactly(const CandidateSetting& setting, DfeRun dfe) {
        evaluator_.Evaluate(stimulus_, setting, dfe, best_);
        analysed_ = false;
    }

    const std::vector<double>& Output() const { return best_; }

    // The eye of Output(), reusing the VGA selection's look at its phases when there was one.
    EyeMetrics MeasureOutput(EyeMeter& meter, const EyeWindow& window) {
        return analysed_ ? meter.Measure(best_, window, selector_.BestPhases())
                         : meter.Measure(best_, window);
    }
    std::vector<double> TakeOutput() { return std::move(best_); }

  private:
    CandidateEvaluator& evaluator_;
    std::span<const double> stimulus_;
    VgaModeDecision vgaMode_;
    std::size_t vgaCount_;
    VgaSelector selector_;
    std::vector<CandidateSetting> settings_;
    std::vector<std::vector<double>> current_;  // one per lane
    std::vector<VgaJudgement> judgements_;
    std::vector<EyeMeter> meters_;
    std::vector<double> best_;
    bool analysed_ = false;  // the selector's best phases belong to best_
};

SweepOutcome Failed(std::string reason) {
    SweepOutcome outcome;
    outcome.reason = std::move(reason);
    return outcome;
}

bool InRange(int index, const std::vector<double>& values) {
    return index >= 0 && static_cast<std::size_t>(index) < values.size();
}

}  // namespace

SweepOutcome RunSweep(CandidateEvaluator& evaluator, const CandidateGrid& grid,
                      std::span<const double> stimulus, const SweepOptions& options) {
    const bool sweep = options.ctleMode == kCtleModeAuto;
    if (!sweep && options.ctleMode != kCtleModeManual) {
        return Failed("CTLE mode '" + options.ctleMode + "' is neither \"Auto\" nor \"Manual\"");
    }
    if (options.samplesPerBit < 1) {
        return Failed("the sweep needs at least one sample per bit");
    }
    if (grid.dcValues.empty() || grid.boostValues.empty() || grid.vgaGains.empty()) {
        return Failed("the response database lists " + std::to_string(grid.dcValues.size()) +
                      " DC gains, " + std::to_string(grid.boostValues.size()) + " AC boosts and " +
                      std::to_string(grid.vgaGains.size()) +
                      " VGA gains; the sweep needs at least one of each");
    }
    const VgaModeDecision vgaMode = DecideVgaMode(options.vgaMode, grid.vgaGains.size());
    if (vgaMode.kind == VgaModeDecision::Kind::None) return Failed(vgaMode.reason);

    std::size_t bits = options.bits;
    const auto spb = static_cast<std::size_t>(options.samplesPerBit);
    if (options.useHalfStimulus) {
        bits = stimulus.size() / spb / 2;
        stimulus = stimulus.first(bits * spb);
    }
    evaluator.BeginStimulus(stimulus);
    const EyeWindow window{bits, options.samplesPerBit, evaluator.TailSamples()};
    CandidateRunner runner(evaluator, stimulus, vgaMode, grid.vgaGains.size(), options.vgaTarget,
                           window);
    EyeMeter meter;
    SweepOutcome outcome;
    outcome.ok = true;

    if (!sweep) {
        const CandidateSetting& m = options.manual;
        if (!InRange(m.dc, grid.dcValues) || !InRange(m.boost, grid.boostValues)) {
            return Failed("the manual setting (DC index " + std::to_string(m.dc) +
                          ", boost index " + std::to_string(m.boost) +
                          ") is not in the response database");
        }
        const int vga = runner.Run(m.dc, m.boost, DfeRun::Skip);
        outcome.winner = {m.dc, m.boost, vga};
        outcome.winnerEye = runner.MeasureOutput(meter, window);
        outcome.record.rows.push_back({static_cast<double>(m.dc), static_cast<double>(m.boost),
                                       outcome.winnerEye.dj, outcome.winnerEye.vheight,
                                       static_cast<double>(vga)});
        outcome.choice = {m.dc, m.boost, 0, true};
        outcome.processed = runner.TakeOutput();
        return outcome;
    }

    const auto dcCount = static_cast<std::size_t>(
        std::count_if(grid.dcValues.begin(), grid.dcValues.end(),
                      [&](double v) { return !(v > options.configuredDcGain); }));
    outcome.record.rows.reserve(dcCount * grid.boostValues.size());
    for (std::size_t d = 0; d < dcCount; ++d) {
        for (std::size_t b = 0; b < grid.boostValues.size(); ++b) {
            const int vga = runner.Run(static_cast<int>(d), static_cast<int>(b), DfeRun::Adapt);
            const EyeMetrics eye = runner.MeasureOutput(meter, window);
            outcome.record.rows.push_back({static_cast<double>(d), static_cast<double>(b), eye.dj,
                                           eye.vheight, static_cast<double>(vga)});
        }
    }
    outcome.choice = ChooseBest(options.figureOfMerit, outcome.record);
    CandidateSetting winner{outcome.choice.dc, outcome.choice.bst, 0};
    if (outcome.record.rows.empty()) {
        // Nothing was swept: the settings stay at index 0 and the VGA is chosen for them.
        winner.vga = runner.Run(winner.dc, winner.boost, DfeRun::Adapt);
    } else {
        winner.vga = TruncateSetting(outcome.record.rows[outcome.choice.row].vga);
        runner.RunExactly(winner, DfeRun::Adapt);
    }
    outcome.winner = winner;
    outcome.winnerEye = runner.MeasureOutput(meter, window);
    outcome.processed = runner.TakeOutput();
    return outcome;
}
