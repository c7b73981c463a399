// The adaptation's candidate chain against a literal evaluation of the same chain: every
// candidate through every stage on the whole stimulus, each stage built as the receiver builds
// its own filters, nothing shared between candidates. Reduced case: 8192 bits (past the DFE's
// 5000-bit level estimation) at 8 samples per bit, three CTLE settings and three VGA gains.
#include "rx/candidate_chain.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "engine/adaptation/adaptation_sweep.hpp"
#include "engine/adaptation/candidate_lanes.hpp"
#include "engine/adaptation/stimulus_pattern.hpp"
#include "engine/adaptation/stimulus_waveform.hpp"
#include "engine/stages/overlap_save_chain.hpp"
#include "rx/adaptation_dfe.hpp"
#include "rx/ami_rx_fft_mult.hpp"
#include "rx/filter_stage.hpp"

namespace {

using v10kx_ami_rx::ChainStage;
using v10kx_ami_rx::StageResponse;
using Vec = std::vector<double>;

constexpr double kBitRate = 10e9;
constexpr int kSpb = 8;
constexpr std::size_t kBits = 8192;
const ModelGrid kGrid{kBitRate, kSpb};

// (1 + s/wz) / ((1 + s/wp)(1 + s/2wp)) e^(-s delay), tabulated from 0 to 30 GHz (the grid reaches
// 40 GHz, so the roll-off above the last point takes part).
StageResponse PoleZeroStage(double gain, double peakingDb, double poleHz, double delay) {
    StageResponse stage;
    const double wp = 2 * std::numbers::pi * poleHz;
    const double wz = wp / std::pow(10.0, peakingDb / 20);
    for (int i = 0; i <= 120; ++i) {
        const double f = 0.25e9 * i;
        const std::complex<double> s(0, 2 * std::numbers::pi * f);
        stage.emplace_back(f, gain * (1.0 + s / wz) / ((1.0 + s / wp) * (1.0 + s / (2 * wp))) *
                                  std::exp(-s * delay));
    }
    return stage;
}

void SaturatingCurve(double limit, ChainStage& stage) {
    for (int i = 0; i <= 80; ++i) {
        const double x = -2.0 + 0.05 * i;
        stage.curveIn.push_back(x);
        stage.curveOut.push_back(limit * std::tanh(x / limit));
    }
}

// CTLE: two stages (the second without a curve) peaking 0, 5 and 10 dB; VGA gains 0.6, 1.0,
// 1.6, each saturating.
class ToyStages : public v10kx_ami_rx::CandidateStageSource {
  public:
    std::vector<ChainStage> CtleStages(int dc, int boost) override {
        ++ctleLookups;
        ChainStage first{PoleZeroStage(1.0 + 0.1 * dc, 5.0 * boost, 3e9, 20e-12), {}, {}};
        SaturatingCurve(0.8, first);
        ChainStage second{PoleZeroStage(1.0, 2.0, 8e9, 5e-12), {}, {}};
        if (!fourStages) return {first, second};
        // As the high-gain family: four stages, each peaking a little, two of them saturating.
        ChainStage third{PoleZeroStage(1.1, 1.0 + boost, 5e9, 3e-12), {}, {}};
        SaturatingCurve(0.9, third);
        ChainStage fourth{PoleZeroStage(0.9, 0.5 * boost, 10e9, 2e-12), {}, {}};
        return {first, second, third, fourth};
    }
    ChainStage VgaStage(int vga) override {
        ++vgaLookups;
        static const double gains[] = {0.6, 1.0, 1.6};
        ChainStage stage{PoleZeroStage(gains[vga], 0.0, 15e9, 2e-12), {}, {}};
        SaturatingCurve(0.5, stage);
        return stage;
    }
    int ctleLookups = 0;
    int vgaLookups = 0;
    bool fourStages = false;
};

const CandidateGrid kCandidates{{0}, {0, 1, 2}, {0, 1, 2}};

v10kx_ami_rx::AdaptationDfeContext DfeContext() {
    v10kx_ami_rx::AdaptationDfeContext context;
    for (int k = 0; k < 11; ++k) {
        const double fullScale = k == 0 ? 0.5 : 0.2;
        context.limits.upperLimit.push_back(fullScale);
        context.limits.lowerLimit.push_back(k == 0 ? 0.0 : -fullScale);
        context.limits.codeSpan.push_back(k == 0 ? 127 : 254);
        context.limits.oneSided.push_back(k == 0);
    }
    return context;
}

DfeStageSetup DfeSetupOfGrid() {
    DfeStageSetup setup;
    setup.bitTime = 1 / kBitRate;
    setup.sampleInterval = setup.bitTime / kSpb;
    setup.initialTapWeights.assign(11, 0.0);
    setup.tapCount = 11;
    setup.dfeMode = 2;
    return setup;
}

// Each candidate built from scratch: the receiver's filter stages on a grid of the stimulus
// length (a circular convolution over the period), its amplitude curves, a fresh DFE.
class LiteralChain : public CandidateEvaluator {
  public:
    explicit LiteralChain(ToyStages& stages)
        : stages_(stages), dfe_(DfeSetupOfGrid(), DfeContext()) {}

    void Evaluate(std::span<const double> stimulus, const CandidateSetting& s, DfeRun dfe,
                  SampleBuffer& out) override {
        out.assign(stimulus.begin(), stimulus.end());
        auto workspace = std::make_shared<FftWorkspace>(out.size());
        std::vector<ChainStage> chain = stages_.CtleStages(s.dc, s.boost);
        chain.push_back(stages_.VgaStage(s.vga));
        for (const ChainStage& stage : chain) {
            v10kx_ami_rx::MakeFilterStage(stage.response, kGrid.SampleInterval(), workspace)
                ->Process(out.data(), out.size());
            if (!stage.curveIn.empty()) {
                AmplitudeCurveStage(stage.curveIn, stage.curveOut).Process(out.data(), out.size());
            }
        }
        if (dfe == DfeRun::Adapt) dfe_.Equalise(out);
    }

  private:
    ToyStages& stages_;
    v10kx_ami_rx::AdaptationDfe dfe_;
};

struct FastChain {
    explicit FastChain(std::size_t lanes = 1)
        : chain(stages, kGrid.SampleInterval(), &dfe, lanes) {}
    ToyStages stages;
    v10kx_ami_rx::AdaptationDfe dfe{DfeSetupOfGrid(), DfeContext()};
    v10kx_ami_rx::PeriodicCandidateChain chain;
};

// A lossy channel (one pole of 0.7 unit intervals), in 1/s.
Vec Channel() {
    const double dt = kGrid.SampleInterval();
    Vec h(40 * kSpb);
    for (std::size_t j = 0; j < h.size(); ++j) {
        h[j] = std::exp(-static_cast<double>(j) / (0.7 * kSpb)) / (0.7 * kSpb * dt);
    }
    return h;
}

const Vec& Stimulus() {
    static const Vec stimulus = BuildReceivedWaveform(ExpandPattern(SweepPattern(), kBits), kGrid,
                                                      Channel(), kGrid.SampleInterval());
    return stimulus;
}

double LargestDifference(std::span<const double> a, std::span<const double> b) {
    EXPECT_EQ(a.size(), b.size());
    double largest = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        largest = std::max(largest, std::abs(a[i] - b[i]));
    }
    return largest;
}

TEST(CandidateChain, EveryCandidateAsTheLiteralChainGivesIt) {
    FastChain fast;
    ToyStages literalStages;
    LiteralChain literal(literalStages);
    const Vec& stimulus = Stimulus();
    fast.chain.BeginStimulus(stimulus);
    // In sweep order, with and without the DFE; then a setting met before, out of order.
    std::vector<CandidateSetting> settings;
    for (int b = 0; b < 3; ++b) {
        for (int g = 0; g < 3; ++g) settings.push_back({0, b, g});
    }
    settings.push_back({0, 1, 2});
    SampleBuffer a, b;
    for (DfeRun dfe : {DfeRun::Skip, DfeRun::Adapt}) {
        for (const CandidateSetting& s : settings) {
            fast.chain.Evaluate(stimulus, s, dfe, a);
            literal.Evaluate(stimulus, s, dfe, b);
            EXPECT_LT(LargestDifference(a, b), 1e-10)
                << "boost " << s.boost << " VGA " << s.vga << (dfe == DfeRun::Adapt ? " DFE" : "");
        }
    }
    // The DFE changed the waveform (past its estimation window the feedback is subtracted).
    fast.chain.Evaluate(stimulus, {0, 2, 1}, DfeRun::Skip, a);
    fast.chain.Evaluate(stimulus, {0, 2, 1}, DfeRun::Adapt, b);
    EXPECT_GT(LargestDifference(a, b), 1e-3);
    // Each CTLE setting's stages were looked up once per visit, each VGA gain once.
    EXPECT_EQ(fast.stages.vgaLookups, 3);
}

class CandidateChainFamily : public testing::TestWithParam<bool> {};

TEST_P(CandidateChainFamily, SweepsToTheRowsAndChoiceOfTheLiteralChain) {
    FastChain fast;
    ToyStages literalStages;
    fast.stages.fourStages = literalStages.fourStages = GetParam();
    LiteralChain literal(literalStages);
    SweepOptions options;
    options.bits = kBits;
    options.samplesPerBit = kSpb;
    options.configuredDcGain = 0;
    const SweepOutcome quick = RunSweep(fast.chain, kCandidates, Stimulus(), options);
    const SweepOutcome slow = RunSweep(literal, kCandidates, Stimulus(), options);
    ASSERT_TRUE(quick.ok && slow.ok) << quick.reason << slow.reason;
    ASSERT_EQ(quick.record.rows.size(), 3u);
    ASSERT_EQ(slow.record.rows.size(), 3u);
    for (std::size_t r = 0; r < 3; ++r) {
        const SweepRow& q = quick.record.rows[r];
        const SweepRow& s = slow.record.rows[r];
        EXPECT_EQ(q.dc, s.dc);
        EXPECT_EQ(q.bst, s.bst);
        EXPECT_EQ(q.vga, s.vga) << r;
        EXPECT_EQ(q.dj, s.dj) << r;
        EXPECT_NEAR(q.vheight, s.vheight, 1e-10) << r;
    }
    EXPECT_TRUE(quick.choice.qualified);
    EXPECT_EQ(quick.choice.row, slow.choice.row);
    EXPECT_EQ(quick.winner.boost, slow.winner.boost);
    EXPECT_EQ(quick.winner.vga, slow.winner.vga);
    // The lossy channel is best served by more than the flat CTLE.
    EXPECT_GT(quick.winner.boost, 0);
}

// Two CTLE stages, and four as the high-gain family has.
INSTANTIATE_TEST_SUITE_P(CandidateChain, CandidateChainFamily, testing::Bool());

TEST(CandidateChain, TheSweepDoesNotDependOnTheNumberOfThreads) {
    SweepOptions options;
    options.bits = kBits;
    options.samplesPerBit = kSpb;
    const CandidateGrid grid{{0, 1}, {0, 1, 2}, {0, 1, 2}};
    options.configuredDcGain = 1;
    FastChain one(1);
    const SweepOutcome reference = RunSweep(one.chain, grid, Stimulus(), options);
    ASSERT_TRUE(reference.ok) << reference.reason;
    for (std::size_t lanes : {2, 3, 5}) {
        FastChain many(lanes);
        EXPECT_EQ(many.chain.Lanes(), lanes);
        const SweepOutcome outcome = RunSweep(many.chain, grid, Stimulus(), options);
        ASSERT_EQ(outcome.record.rows.size(), reference.record.rows.size());
        for (std::size_t r = 0; r < outcome.record.rows.size(); ++r) {
            const SweepRow& a = outcome.record.rows[r];
            const SweepRow& b = reference.record.rows[r];
            EXPECT_TRUE(a.dc == b.dc && a.bst == b.bst && a.vga == b.vga && a.dj == b.dj &&
                        a.vheight == b.vheight)
                << lanes << " lanes, row " << r;
        }
        EXPECT_EQ(outcome.winner.boost, reference.winner.boost);
        EXPECT_EQ(outcome.winner.vga, reference.winner.vga);
        EXPECT_EQ(outcome.processed, reference.processed) << lanes << " lanes";
    }
}

TEST(CandidateChain, ThreadsFromTheEnvironmentStayWithinTheCores) {
    EXPECT_EQ(ParseThreadSetting(nullptr, 8).threads, 8u);
    EXPECT_EQ(ParseThreadSetting("1", 8).threads, 1u);
    EXPECT_EQ(ParseThreadSetting("3", 8).threads, 3u);
    EXPECT_EQ(ParseThreadSetting("64", 8).threads, 8u);
    EXPECT_TRUE(ParseThreadSetting("64", 8).warning.empty());
    for (const char* bad : {"0", "-2", "two", "", "2x"}) {
        const ThreadSetting setting = ParseThreadSetting(bad, 4);
        EXPECT_EQ(setting.threads, 4u) << bad;
        EXPECT_NE(setting.warning.find("WARNING: V10KX_AMI_THREADS"), std::string::npos) << bad;
    }
    // A failing candidate fails the whole run, whichever lane it ran on.
    EXPECT_THROW(RunInLanes(6, 3,
                            [](std::size_t i, std::size_t) {
                                if (i == 4) throw std::runtime_error("candidate 4");
                            }),
                 std::runtime_error);
}

TEST(CandidateChain, TwoPeriodsOfAStimulusAreOnePeriodTwice) {
    FastChain fast;
    const Vec& period = Stimulus();
    Vec twice = period;
    twice.insert(twice.end(), period.begin(), period.end());
    SampleBuffer once, doubled;
    fast.chain.BeginStimulus(period);
    fast.chain.Evaluate(period, {0, 1, 1}, DfeRun::Skip, once);
    const int ctleLookups = fast.stages.ctleLookups;
    fast.chain.BeginStimulus(twice);
    fast.chain.Evaluate(twice, {0, 1, 1}, DfeRun::Skip, doubled);
    ASSERT_EQ(doubled.size(), 2 * once.size());
    EXPECT_TRUE(std::equal(once.begin(), once.end(), doubled.begin()));
    EXPECT_TRUE(std::equal(once.begin(), once.end(), doubled.begin() + once.size()));
    // Same spectrum of the period: the CTLE output was kept.
    EXPECT_EQ(fast.stages.ctleLookups, ctleLookups);

    // And it is what the literal chain makes of the two periods.
    ToyStages literalStages;
    LiteralChain literal(literalStages);
    SampleBuffer slow;
    literal.Evaluate(twice, {0, 1, 1}, DfeRun::Skip, slow);
    EXPECT_LT(LargestDifference(doubled, slow), 1e-10);

    // A stimulus whose halves differ is taken whole.
    Vec uneven = twice;
    uneven.back() += 1e-3;
    fast.chain.BeginStimulus(uneven);
    fast.chain.Evaluate(uneven, {0, 1, 1}, DfeRun::Skip, doubled);
    literal.Evaluate(uneven, {0, 1, 1}, DfeRun::Skip, slow);
    EXPECT_LT(LargestDifference(doubled, slow), 1e-10);
}

TEST(CandidateChain, GridSamplingFollowsTheStageInterpolation) {
    // Across the points, at them, and above the last one (1/f roll-off, extrapolated phase): the
    // grid the chains use against the interpolation frequency by frequency.
    const StageResponse stage = PoleZeroStage(1.3, 9.0, 4e9, 40e-12);
    const std::size_t n = 1 << 14;
    const double dt = kGrid.SampleInterval();
    const std::vector<std::complex<double>> bins = v10kx_ami_rx::StageBins(stage, n, dt);
    ASSERT_EQ(bins.size(), n / 2 + 1);
    const double spacing = 1.0 / (static_cast<double>(n) * dt);
    for (std::size_t k = 0; k < bins.size(); ++k) {
        const std::complex<double> reference =
            AmiRxFFTMult::InterpolateResponse(stage, static_cast<double>(k) * spacing);
        ASSERT_LT(std::abs(bins[k] - reference), 1e-13 * std::abs(reference) + 1e-300) << k;
    }
}

}  // namespace
