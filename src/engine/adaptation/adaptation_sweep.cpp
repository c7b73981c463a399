#include "engine/adaptation/adaptation_sweep.hpp"

#include <algorithm>
#include <memory>
#include <utility>

#include "engine/adaptation/candidate_lanes.hpp"

namespace {

// Runs candidates with their VGA gain chosen by the VGA mode, on one lane of the evaluator.
// The buffers are reused from candidate to candidate: the cheapest VGA candidate's output stays
// in `best` while the next ones are evaluated into `current`.
class CandidateRunner {
  public:
    CandidateRunner(CandidateEvaluator& evaluator, std::span<const double> stimulus,
                    const VgaModeDecision& vgaMode, std::size_t vgaCount, double vgaTarget,
                    const EyeWindow& window)
        : evaluator_(evaluator),
          stimulus_(stimulus),
          vgaMode_(vgaMode),
          vgaCount_(vgaCount),
          selector_(vgaTarget, window) {}

    // Evaluates (dc, boost) and returns the VGA index used; the waveform is Output().
    int Run(int dc, int boost, DfeRun dfe) {
        if (vgaMode_.kind == VgaModeDecision::Kind::Fixed) {
            RunExactly({dc, boost, vgaMode_.index}, dfe);
            return vgaMode_.index;
        }
        selector_.Reset();
        for (std::size_t g = 0; g < vgaCount_; ++g) {
            evaluator_.Evaluate(stimulus_, {dc, boost, static_cast<int>(g)}, dfe, current_);
            if (selector_.Offer(static_cast<int>(g), current_)) std::swap(current_, best_);
        }
        analysed_ = true;
        return selector_.Best();
    }

    // Evaluates one setting exactly as given.
    void RunExactly(const CandidateSetting& setting, DfeRun dfe) {
        evaluator_.Evaluate(stimulus_, setting, dfe, best_);
        analysed_ = false;
    }

    // The eye of Output(), reusing the VGA selection's look at its phases when there was one.
    EyeMetrics MeasureOutput(const EyeWindow& window) {
        return analysed_ ? meter_.Measure(best_, window, selector_.BestPhases())
                         : meter_.Measure(best_, window);
    }
    SampleBuffer TakeOutput() { return std::move(best_); }

  private:
    CandidateEvaluator& evaluator_;
    std::span<const double> stimulus_;
    VgaModeDecision vgaMode_;
    std::size_t vgaCount_;
    VgaSelector selector_;
    EyeMeter meter_;
    SampleBuffer current_;
    SampleBuffer best_;
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
    auto runnerOn = [&](CandidateEvaluator& lane) {
        return std::make_unique<CandidateRunner>(lane, stimulus, vgaMode, grid.vgaGains.size(),
                                                 options.vgaTarget, window);
    };
    SweepOutcome outcome;
    outcome.ok = true;

    if (!sweep) {
        const CandidateSetting& m = options.manual;
        if (!InRange(m.dc, grid.dcValues) || !InRange(m.boost, grid.boostValues)) {
            return Failed("the manual setting (DC index " + std::to_string(m.dc) +
                          ", boost index " + std::to_string(m.boost) +
                          ") is not in the response database");
        }
        const std::unique_ptr<CandidateRunner> runner = runnerOn(evaluator);
        const int vga = runner->Run(m.dc, m.boost, DfeRun::Skip);
        outcome.winner = {m.dc, m.boost, vga};
        outcome.winnerEye = runner->MeasureOutput(window);
        outcome.record.rows.push_back({static_cast<double>(m.dc), static_cast<double>(m.boost),
                                       outcome.winnerEye.dj, outcome.winnerEye.vheight,
                                       static_cast<double>(vga)});
        outcome.choice = {m.dc, m.boost, 0, true};
        outcome.processed = runner->TakeOutput();
        return outcome;
    }

    // The CTLE settings run on the evaluator's lanes, a setting with all its VGA gains on one
    // lane; each row goes to its place in sweep order, so neither the rows nor the choice
    // depend on the number of lanes.
    const auto dcCount = static_cast<std::size_t>(
        std::count_if(grid.dcValues.begin(), grid.dcValues.end(),
                      [&](double v) { return !(v > options.configuredDcGain); }));
    const std::size_t boostCount = grid.boostValues.size();
    const std::size_t settings = dcCount * boostCount;
    const std::size_t lanes =
        std::clamp<std::size_t>(evaluator.Lanes(), 1, std::max<std::size_t>(settings, 1));
    std::vector<std::unique_ptr<CandidateRunner>> runners;
    for (std::size_t l = 0; l < lanes; ++l) runners.push_back(runnerOn(evaluator.Lane(l)));
    outcome.record.rows.resize(settings);
    std::vector<EyeMetrics> eyes(settings);
    RunInLanes(settings, lanes, [&](std::size_t i, std::size_t lane) {
        const auto d = static_cast<int>(i / boostCount);
        const auto b = static_cast<int>(i % boostCount);
        CandidateRunner& runner = *runners[lane];
        const int vga = runner.Run(d, b, DfeRun::Adapt);
        const EyeMetrics& eye = eyes[i] = runner.MeasureOutput(window);
        outcome.record.rows[i] = {static_cast<double>(d), static_cast<double>(b), eye.dj,
                                  eye.vheight, static_cast<double>(vga)};
    });
    runners.resize(1);  // the other lanes' buffers are not needed any more
    CandidateRunner& runner = *runners[0];
    outcome.choice = ChooseBest(options.figureOfMerit, outcome.record);
    CandidateSetting winner{outcome.choice.dc, outcome.choice.bst, 0};
    if (outcome.record.rows.empty()) {
        // Nothing was swept: the settings stay at index 0 and the VGA is chosen for them.
        winner.vga = runner.Run(winner.dc, winner.boost, DfeRun::Adapt);
    } else {
        winner.vga = TruncateSetting(outcome.record.rows[outcome.choice.row].vga);
        if (!options.winnerWaveform) {
            outcome.winner = winner;
            outcome.winnerEye = eyes[outcome.choice.row];
            return outcome;
        }
        runner.RunExactly(winner, DfeRun::Adapt);
    }
    outcome.winner = winner;
    outcome.winnerEye = runner.MeasureOutput(window);
    outcome.processed = runner.TakeOutput();
    return outcome;
}
