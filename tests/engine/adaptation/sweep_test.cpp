// The sweep's decisions: ChooseBest, the VGA choice and the order and number of candidate
// evaluations, against a scripted evaluator whose eye quality is known for every candidate.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "engine/adaptation/adaptation_sweep.hpp"

namespace {

using Vec = std::vector<double>;
constexpr int kSpb = 16;

SweepRecord rows(std::initializer_list<SweepRow> r) { return SweepRecord{r}; }

TEST(ChooseBest, AreaPrefersTheWidestTallestEyeAndTheFirstOnTies) {
    const SweepRecord r = rows({{0, 0, 0.5, 0.2},    // 0.1
                                {0, 1, 0.2, 0.25},   // 0.2
                                {1, 0, 0.6, 0.5},    // 0.2 (tie: the earlier row stays)
                                {1, 1, 1.0, 0.9}});  // closed: 0
    const BestChoice c = ChooseBest("Area", r);
    EXPECT_TRUE(c.qualified);
    EXPECT_EQ(c.row, 1u);
    EXPECT_EQ(c.dc, 0);
    EXPECT_EQ(c.bst, 1);
    // Names other than the three count as "Area".
    EXPECT_EQ(ChooseBest("Eye", r).row, 1u);
}

TEST(ChooseBest, WidthAndHeightLookAtOneMetricEach) {
    const SweepRecord r = rows({{0, 0, 0.3, 0.1}, {0, 1, 0.2, 0.1}, {0, 2, 0.2, 0.4}});
    EXPECT_EQ(ChooseBest("Width", r).row, 1u);  // equal DJ: the earlier row wins
    EXPECT_EQ(ChooseBest("Height", r).row, 2u);
}

TEST(ChooseBest, NoQualifyingRowGivesZeroSettings) {
    // Closed eyes (DJ 1), no height, not-a-number metrics: nothing beats the starting values.
    const SweepRecord r = rows({{3, 4, 1.0, 0.5}, {2, 2, 0.4, 0.0}, {1, 1, NAN, NAN}});
    for (const BestChoice& c : {ChooseBest("Area", r), ChooseBest("Area", {}),
                                ChooseBest("Height", rows({{2, 2, 0.4, 0.0}, {1, 1, NAN, NAN}}))}) {
        EXPECT_FALSE(c.qualified);
        EXPECT_EQ(c.dc, 0);
        EXPECT_EQ(c.bst, 0);
        EXPECT_EQ(c.row, 0u);
    }
    // Settings are truncated.
    const BestChoice t = ChooseBest("Height", rows({{2.9, 1.99, 0.1, 0.3}}));
    EXPECT_EQ(t.dc, 2);
    EXPECT_EQ(t.bst, 1);
}

TEST(VgaMode, AutoANumberOrNothing) {
    EXPECT_EQ(DecideVgaMode("Auto", 8).kind, VgaModeDecision::Kind::Auto);
    const VgaModeDecision two = DecideVgaMode("2", 8);
    EXPECT_EQ(two.kind, VgaModeDecision::Kind::Fixed);
    EXPECT_EQ(two.index, 2);
    for (const char* mode : {"auto", "", "two", "2x", "1.5", "-1", "8"}) {
        const VgaModeDecision d = DecideVgaMode(mode, 8);
        EXPECT_EQ(d.kind, VgaModeDecision::Kind::None) << mode;
        EXPECT_FALSE(d.reason.empty()) << mode;
    }
}

// Clean two-level eye: +-a with the transition at phase 0.
Vec cleanEye(std::size_t bits, double a, unsigned seed) {
    std::mt19937 rng(seed);
    Vec x;
    int previous = 1;
    for (std::size_t i = 0; i < bits; ++i) {
        const int s = (rng() & 1) ? 1 : -1;
        x.push_back(0.5 * (previous + s) * a);
        x.insert(x.end(), kSpb - 1, s * a);
        previous = s;
    }
    return x;
}

TEST(SelectVga, ChoosesTheGainWhoseLevelsLieClosestToTheTarget) {
    const Vec eye = cleanEye(200, 1.0, 3);
    auto scaled = [&](double g) {
        Vec y = eye;
        for (double& v : y) v *= g;
        return y;
    };
    const EyeWindow window{200, kSpb, 0};
    EXPECT_EQ(SelectVga({scaled(0.1), scaled(0.25), scaled(0.5), scaled(0.33)}, 0.3, window), 3);
    // Equal costs: the first.
    EXPECT_EQ(SelectVga({scaled(0.2), scaled(0.4), scaled(0.4)}, 0.3, window), 0);
    // A waveform without usable samples costs infinitely much, not "not a number".
    Vec broken = scaled(0.3);
    broken[17] = NAN;
    EXPECT_EQ(SelectVga({broken, scaled(0.9)}, 0.3, window), 1);
    EXPECT_EQ(SelectVga({}, 0.3, window), -1);
}

// Output = VGA gain * (stimulus + k * stimulus one bit earlier), with the ISI k growing with the
// distance of (dc, boost) from a best setting. Records every call.
class ScriptedChain : public CandidateEvaluator {
  public:
    struct Call {
        CandidateSetting setting;
        DfeRun dfe;
        std::size_t stimulusSize;
    };

    ScriptedChain(int bestDc, int bestBoost, Vec vgaGains)
        : bestDc_(bestDc), bestBoost_(bestBoost), vgaGains_(std::move(vgaGains)) {}

    void Evaluate(std::span<const double> stimulus, const CandidateSetting& s, DfeRun dfe,
                  SampleBuffer& processed) override {
        calls.push_back({s, dfe, stimulus.size()});
        const double k = 0.15 * (std::abs(s.dc - bestDc_) + std::abs(s.boost - bestBoost_));
        const double g = vgaGains_.at(static_cast<std::size_t>(s.vga));
        processed.resize(stimulus.size());
        for (std::size_t i = 0; i < stimulus.size(); ++i) {
            const double earlier = stimulus[(i + stimulus.size() - kSpb) % stimulus.size()];
            processed[i] = closed ? 0.2 * g : g * (stimulus[i] + k * earlier);
        }
    }

    std::vector<Call> calls;
    bool closed = false;

  private:
    int bestDc_, bestBoost_;
    Vec vgaGains_;
};

CandidateGrid grid5x4x3() { return {{0, 1, 2, 3, 4}, {0, 2, 4, 6}, {0.5, 0.6, 1.5}}; }

SweepOptions autoOptions(double configuredDc, std::size_t bits) {
    SweepOptions o;
    o.bits = bits;
    o.samplesPerBit = kSpb;
    o.configuredDcGain = configuredDc;
    return o;
}

TEST(RunSweep, EvaluatesEveryCandidateInOrderAndKeepsTheBest) {
    const Vec stimulus = cleanEye(256, 0.5, 8);
    ScriptedChain chain(1, 2, {0.2, 0.6, 1.0});  // amplitudes 0.1, 0.3, 0.5: VGA 1 hits 0.3
    const SweepOutcome out = RunSweep(chain, grid5x4x3(), stimulus, autoOptions(2, 256));
    ASSERT_TRUE(out.ok) << out.reason;

    // DC values 0, 1, 2 are not above the configured 2: three DC candidates (outer loop), four
    // boosts (inner loop), three VGA gains each, then the winner once more.
    ASSERT_EQ(chain.calls.size(), 3u * 4u * 3u + 1u);
    std::size_t i = 0;
    for (int d = 0; d < 3; ++d) {
        for (int b = 0; b < 4; ++b) {
            for (int g = 0; g < 3; ++g, ++i) {
                EXPECT_EQ(chain.calls[i].setting.dc, d);
                EXPECT_EQ(chain.calls[i].setting.boost, b);
                EXPECT_EQ(chain.calls[i].setting.vga, g);
                EXPECT_EQ(chain.calls[i].dfe, DfeRun::Adapt);
                EXPECT_EQ(chain.calls[i].stimulusSize, stimulus.size());
            }
        }
    }
    ASSERT_EQ(out.record.rows.size(), 12u);
    for (std::size_t r = 0; r < 12; ++r) {
        const SweepRow& row = out.record.rows[r];
        EXPECT_EQ(row.dc, static_cast<double>(r / 4));
        EXPECT_EQ(row.bst, static_cast<double>(r % 4));
        EXPECT_EQ(row.vga, 1.0);  // chosen by level, not by eye size
        // Each row's eye is the eye of that candidate's waveform measured on its own.
        SampleBuffer alone;
        chain.Evaluate(stimulus, {static_cast<int>(row.dc), static_cast<int>(row.bst), 1},
                       DfeRun::Adapt, alone);
        const EyeMetrics eye = MeasureEye(alone, 256, kSpb, 0);
        EXPECT_EQ(row.dj, eye.dj);
        EXPECT_EQ(row.vheight, eye.vheight);
    }
    chain.calls.resize(chain.calls.size() - 12);
    EXPECT_TRUE(out.choice.qualified);
    EXPECT_EQ(out.winner.dc, 1);
    EXPECT_EQ(out.winner.boost, 2);
    EXPECT_EQ(out.winner.vga, 1);
    const auto& last = chain.calls.back();
    EXPECT_EQ(last.setting.dc, 1);
    EXPECT_EQ(last.setting.boost, 2);
    EXPECT_EQ(last.setting.vga, 1);
    EXPECT_EQ(last.dfe, DfeRun::Adapt);
    // The best candidate has no ISI: levels +-0.3.
    EXPECT_NEAR(out.winnerEye.vheight, 0.6, 1e-12);
    EXPECT_EQ(out.processed.size(), stimulus.size());
}

TEST(RunSweep, WithoutTheWinnersWaveformItsEyeIsTheEyeOfItsRow) {
    const Vec stimulus = cleanEye(256, 0.5, 8);
    ScriptedChain chain(1, 2, {0.2, 0.6, 1.0});
    SweepOptions o = autoOptions(2, 256);
    o.winnerWaveform = false;
    const SweepOutcome out = RunSweep(chain, grid5x4x3(), stimulus, o);
    ASSERT_TRUE(out.ok) << out.reason;
    EXPECT_EQ(chain.calls.size(), 3u * 4u * 3u);  // the winner is not evaluated again
    EXPECT_TRUE(out.processed.empty());
    EXPECT_EQ(out.winner.dc, 1);
    EXPECT_EQ(out.winner.boost, 2);
    EXPECT_EQ(out.winner.vga, 1);
    // The winner's waveform measured on its own has the eye reported.
    SampleBuffer alone;
    chain.Evaluate(stimulus, out.winner, DfeRun::Adapt, alone);
    const EyeMetrics eye = MeasureEye(alone, 256, kSpb, 0);
    EXPECT_EQ(out.winnerEye.dj, eye.dj);
    EXPECT_EQ(out.winnerEye.vheight, eye.vheight);
    EXPECT_EQ(out.winnerEye.samplingPhase, eye.samplingPhase);
}

TEST(RunSweep, AConfiguredDcGainBelowEveryValueSweepsNothing) {
    const Vec stimulus = cleanEye(64, 0.5, 2);
    ScriptedChain chain(1, 2, {0.2, 0.6, 1.0});
    const SweepOutcome out = RunSweep(chain, grid5x4x3(), stimulus, autoOptions(-1, 64));
    ASSERT_TRUE(out.ok);
    EXPECT_TRUE(out.record.rows.empty());
    EXPECT_FALSE(out.choice.qualified);
    // The settings stay at index 0; only the VGA is chosen for them.
    EXPECT_EQ(out.winner.dc, 0);
    EXPECT_EQ(out.winner.boost, 0);
    EXPECT_EQ(out.winner.vga, 1);
    EXPECT_EQ(chain.calls.size(), 3u);
}

TEST(RunSweep, EveryEyeClosedReturnsTheFirstSettings) {
    const Vec stimulus = cleanEye(64, 0.5, 2);
    ScriptedChain chain(1, 2, {0.2, 0.6, 1.0});
    chain.closed = true;
    const SweepOutcome out = RunSweep(chain, grid5x4x3(), stimulus, autoOptions(4, 64));
    ASSERT_TRUE(out.ok);
    ASSERT_EQ(out.record.rows.size(), 20u);
    for (const SweepRow& r : out.record.rows) EXPECT_EQ(r.dj, 1.0);
    EXPECT_FALSE(out.choice.qualified);
    EXPECT_EQ(out.winner.dc, 0);
    EXPECT_EQ(out.winner.boost, 0);
    EXPECT_EQ(out.winner.vga, static_cast<int>(out.record.rows[0].vga));
}

TEST(RunSweep, ManualModeEvaluatesOnceWithoutTheDfe) {
    const Vec stimulus = cleanEye(64, 0.5, 2);
    ScriptedChain chain(1, 2, {0.2, 0.6, 1.0});
    SweepOptions o = autoOptions(4, 64);
    o.ctleMode = "Manual";
    o.vgaMode = "2";
    o.manual = {3, 1, 0};
    const SweepOutcome out = RunSweep(chain, grid5x4x3(), stimulus, o);
    ASSERT_TRUE(out.ok);
    ASSERT_EQ(chain.calls.size(), 1u);
    EXPECT_EQ(chain.calls[0].setting.dc, 3);
    EXPECT_EQ(chain.calls[0].setting.boost, 1);
    EXPECT_EQ(chain.calls[0].setting.vga, 2);
    EXPECT_EQ(chain.calls[0].dfe, DfeRun::Skip);
    EXPECT_EQ(out.winner.vga, 2);
    EXPECT_EQ(out.processed.size(), stimulus.size());

    o.manual = {5, 0, 0};  // no sixth DC value
    EXPECT_FALSE(RunSweep(chain, grid5x4x3(), stimulus, o).ok);
}

TEST(RunSweep, HalfTheStimulusTakesPartWhenAsked) {
    const Vec stimulus = cleanEye(101, 0.5, 2);
    ScriptedChain chain(0, 0, {0.6});
    SweepOptions o = autoOptions(0, 101);
    o.useHalfStimulus = true;
    const SweepOutcome out = RunSweep(chain, {{0}, {0, 1}, {0.6}}, stimulus, o);
    ASSERT_TRUE(out.ok);
    for (const auto& call : chain.calls) EXPECT_EQ(call.stimulusSize, 50u * kSpb);
}

TEST(RunSweep, RefusesWhatItCannotSweep) {
    const Vec stimulus = cleanEye(32, 0.5, 2);
    ScriptedChain chain(0, 0, {0.6});
    const SweepOptions ok = autoOptions(0, 32);
    EXPECT_FALSE(RunSweep(chain, {{0}, {}, {0.6}}, stimulus, ok).ok);
    EXPECT_FALSE(RunSweep(chain, {{}, {0}, {0.6}}, stimulus, ok).ok);
    EXPECT_FALSE(RunSweep(chain, {{0}, {0}, {}}, stimulus, ok).ok);
    SweepOptions badMode = ok;
    badMode.ctleMode = "Semi";
    EXPECT_FALSE(RunSweep(chain, {{0}, {0}, {0.6}}, stimulus, badMode).ok);
    SweepOptions badVga = ok;
    badVga.vgaMode = "loud";
    const SweepOutcome out = RunSweep(chain, {{0}, {0}, {0.6}}, stimulus, badVga);
    EXPECT_FALSE(out.ok);
    EXPECT_NE(out.reason.find("loud"), std::string::npos);
    EXPECT_TRUE(chain.calls.empty());
}

}  // namespace
