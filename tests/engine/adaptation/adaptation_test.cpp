// The adaptation from the receiver's side: request in, gains out. The receiver's processing is
// stood in for by a small linear chain (a high-frequency boost per AC setting and a VGA gain), so
// that the choices can be judged physically.
#include "engine/adaptation/adaptation.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

#include "engine/fft/fft_plan_cache.hpp"
#include "engine/fft/real_fft_plan.hpp"

namespace {

using Vec = std::vector<double>;

class FixedCatalogue : public ResponseCatalogue {
  public:
    explicit FixedCatalogue(CandidateGrid grid) : grid_(std::move(grid)) {}
    CandidateGrid Grid() override { return grid_; }

  private:
    CandidateGrid grid_;
};

// CTLE: y = x + beta * (x - lowpass(x)), beta = boost value / 4, lowpass of one pole with a time
// constant of 0.6 unit intervals; DC gain: 1 + 0.05 * value; VGA: its gain. The stimulus is
// periodic, so the filter runs over it twice and the second pass is the output. The CTLE output
// is kept for the VGA candidates that follow, as the receiver's chain does.
class BoostChain : public CandidateEvaluator {
  public:
    struct Call {
        CandidateSetting setting;
        DfeRun dfe;
        std::size_t stimulusSize;
    };

    explicit BoostChain(const CandidateGrid& grid) : grid_(grid) {}

    void Evaluate(std::span<const double> stimulus, const CandidateSetting& s, DfeRun dfe,
                  SampleBuffer& processed) override {
        calls.push_back({s, dfe, stimulus.size()});
        if (failWith) throw std::runtime_error(failWith);
        const bool cached = ctleFor_.dc == s.dc && ctleFor_.boost == s.boost &&
                            ctleStimulus_ == stimulus.data() && ctle_.size() == stimulus.size();
        if (!cached) {
            const double beta = grid_.boostValues.at(s.boost) / 4;
            const double dcGain = 1 + 0.05 * grid_.dcValues.at(s.dc);
            const double alpha = 1 - std::exp(-1.0 / (0.6 * kAdaptSamplesPerBit));
            ctle_.resize(stimulus.size());
            double low = 0;
            for (int pass = 0; pass < 2; ++pass) {
                for (std::size_t i = 0; i < stimulus.size(); ++i) {
                    low += alpha * (stimulus[i] - low);
                    ctle_[i] = dcGain * (stimulus[i] + beta * (stimulus[i] - low));
                }
            }
            ctleFor_ = s;
            ctleStimulus_ = stimulus.data();
        }
        const double g = closed ? 0.0 : grid_.vgaGains.at(s.vga);
        processed.resize(ctle_.size());
        for (std::size_t i = 0; i < ctle_.size(); ++i) processed[i] = closed ? 0.1 : g * ctle_[i];
    }

    std::vector<Call> calls;
    bool closed = false;
    const char* failWith = nullptr;

  private:
    CandidateGrid grid_;
    CandidateSetting ctleFor_{-1, -1, -1};
    const double* ctleStimulus_ = nullptr;
    Vec ctle_;
};

class RecordingTrainer : public DfeTrainer {
  public:
    DfeStageResult Train(std::span<double> equalised, const DfeStageSetup& setup) override {
        ++calls;
        samples = equalised.size();
        seen = setup;
        if (failWith) throw std::runtime_error(failWith);
        DfeStageResult r;
        r.setUp = setUp;
        if (setUp) {
            r.tapWeights = {0.01, -0.002};
            r.tapCodes = {12, -3};
        }
        return r;
    }

    int calls = 0;
    std::size_t samples = 0;
    DfeStageSetup seen;
    bool setUp = true;
    const char* failWith = nullptr;
};

constexpr double kBitRate = 10.3125e9;

// A first-order low-pass channel with time constant tauUi (unit intervals), in 1/s, at
// `spb` samples per bit.
Vec rcChannel(double tauUi, int spb) {
    const double dt = 1.0 / (kBitRate * spb);
    const double tau = tauUi / kBitRate;
    Vec h(static_cast<std::size_t>(std::max(4.0, 10 * tauUi) * spb));
    for (std::size_t j = 0; j < h.size(); ++j) h[j] = std::exp(-(j * dt) / tau) / tau;
    return h;
}

AdaptRequest requestFor(Vec impulse, int spb = kAdaptSamplesPerBit) {
    AdaptRequest r;
    r.impulse = std::move(impulse);
    r.dfeTapWeights = {0.1, 0.05};
    r.tapCount = 2;
    r.supplyLabel = "1.0 V";
    r.cornerLabel = "Typical";
    r.vgaBandwidthLabel = "3";
    r.ctleModeLabel = "High-Gain, Low BW";
    r.dcGainIndex = "1";
    r.databaseDirectory = "/kit/";
    r.bitRate = kBitRate;
    r.samplesPerBit = spb;
    return r;
}

const CandidateGrid kGrid{{0, 1, 2}, {0, 2, 4, 6, 8, 10}, {0.5, 0.8, 1.1}};

struct AdaptRun {
    AdaptResult result;
    std::vector<BoostChain::Call> calls;
    RecordingTrainer trainer;
};

AdaptRun adapt(const AdaptRequest& request, bool closed = false,
               const CandidateGrid& grid = kGrid) {
    FixedCatalogue catalogue(grid);
    BoostChain chain(grid);
    chain.closed = closed;
    AdaptRun run;
    run.result = Adapt(request, {catalogue, chain, run.trainer});
    run.calls = chain.calls;
    return run;
}

TEST(Adapt, ALossierChannelGetsMoreBoostAndTheSameInputTheSameChoice) {
    const AdaptRun lossy = adapt(requestFor(rcChannel(0.8, kAdaptSamplesPerBit)));
    const AdaptRun clean = adapt(requestFor(rcChannel(0.05, kAdaptSamplesPerBit)));
    ASSERT_TRUE(lossy.result.adapted) << lossy.result.reason;
    ASSERT_TRUE(clean.result.adapted) << clean.result.reason;
    EXPECT_GT(lossy.result.acGain, clean.result.acGain);
    EXPECT_TRUE(lossy.result.messages.empty());
    // Two DC values (0 and 1) are not above the configured 1; six boosts; three VGA gains. The
    // winner is not evaluated again: its waveform would be thrown away.
    EXPECT_EQ(lossy.result.sweep.rows.size(), 12u);
    EXPECT_EQ(lossy.calls.size(), 12u * 3u);
    for (const auto& call : lossy.calls) {
        EXPECT_EQ(call.stimulusSize, kSweepBits * kAdaptSamplesPerBit);
        EXPECT_EQ(call.dfe, DfeRun::Adapt);
    }
    // The gains are database values: the boost's and the DC gain's, and the VGA's index.
    bool found = false;
    for (const SweepRow& row : lossy.result.sweep.rows) {
        if (kGrid.boostValues[row.bst] == lossy.result.acGain &&
            kGrid.dcValues[row.dc] == lossy.result.dcGain && row.vga == lossy.result.vgaGain) {
            found = true;
        }
    }
    EXPECT_TRUE(found);
    EXPECT_GT(lossy.result.chosenEye.vheight, 0.0);
    EXPECT_EQ(lossy.result.vga.chosenIndex, lossy.result.vgaGain);
    EXPECT_EQ(lossy.trainer.calls, 0);  // DFE off: no second stage

    const AdaptRun again = adapt(requestFor(rcChannel(0.8, kAdaptSamplesPerBit)));
    EXPECT_EQ(again.result.acGain, lossy.result.acGain);
    EXPECT_EQ(again.result.dcGain, lossy.result.dcGain);
    EXPECT_EQ(again.result.vgaGain, lossy.result.vgaGain);
    ASSERT_EQ(again.result.sweep.rows.size(), lossy.result.sweep.rows.size());
    for (std::size_t i = 0; i < again.result.sweep.rows.size(); ++i) {
        EXPECT_EQ(again.result.sweep.rows[i].dj, lossy.result.sweep.rows[i].dj);
        EXPECT_EQ(again.result.sweep.rows[i].vheight, lossy.result.sweep.rows[i].vheight);
    }
}

TEST(Adapt, ANextInstanceNeitherPlansAgainNorDisturbsOtherPlans) {
    // A plan of the FFT service another model on this thread holds stays as it was; the long
    // transforms' plans are kept for the model that runs next on the same grid.
    ComplexBuffer held(48);
    ComplexForward(held);
    const AdaptRun run = adapt(requestFor(rcChannel(0.8, kAdaptSamplesPerBit)));
    ASSERT_TRUE(run.result.adapted) << run.result.reason;
    EXPECT_EQ(fftServiceState().complexForward.length(), 48u);
    const std::uint64_t made = FftwPlansMade();
    const AdaptRun next = adapt(requestFor(rcChannel(0.6, kAdaptSamplesPerBit)));
    ASSERT_TRUE(next.result.adapted) << next.result.reason;
    EXPECT_EQ(FftwPlansMade(), made);
    ReleaseAll();
}

TEST(Adapt, EveryCandidateClosedStillAdaptsToTheFirstSettings) {
    const CandidateGrid grid{{-1.5, 0.5}, {3, 5}, {0.5, 0.8}};
    AdaptRequest request = requestFor(rcChannel(0.3, kAdaptSamplesPerBit));
    request.dcGainIndex = "4";
    const AdaptRun run = adapt(request, true, grid);
    ASSERT_TRUE(run.result.adapted);
    for (const SweepRow& row : run.result.sweep.rows) EXPECT_EQ(row.dj, 1.0);
    EXPECT_EQ(run.result.acGain, 3);   // boost value at index 0
    EXPECT_EQ(run.result.dcGain, -1);  // DC value at index 0, truncated
    EXPECT_EQ(run.result.vgaGain, 0);
}

TEST(Adapt, TheDfeStageAdaptsOnTheChosenSettingWithALongerStimulus) {
    AdaptRequest request = requestFor(rcChannel(0.5, kAdaptSamplesPerBit));
    request.dfeMode = 1;
    FixedCatalogue catalogue(kGrid);
    BoostChain chain(kGrid);
    RecordingTrainer trainer;
    const AdaptResult result = Adapt(request, {catalogue, chain, trainer});
    ASSERT_TRUE(result.adapted) << result.reason;
    ASSERT_EQ(trainer.calls, 1);
    EXPECT_TRUE(result.dfeStageRan);
    EXPECT_EQ(result.dfe.tapWeights, (Vec{0.01, -0.002}));
    EXPECT_EQ(trainer.samples, kDfeStageBits * kAdaptSamplesPerBit);
    EXPECT_DOUBLE_EQ(trainer.seen.bitTime, 1 / kBitRate);
    EXPECT_DOUBLE_EQ(trainer.seen.sampleInterval, 1 / kBitRate / 32);
    EXPECT_EQ(trainer.seen.initialTapWeights, request.dfeTapWeights);
    EXPECT_EQ(trainer.seen.dfeMode, 1);
    // The chain ran the chosen setting once more, on the longer stimulus, with the DFE left to
    // the trainer.
    const auto& last = chain.calls.back();
    EXPECT_EQ(last.stimulusSize, kDfeStageBits * kAdaptSamplesPerBit);
    EXPECT_EQ(last.dfe, DfeRun::Skip);
    EXPECT_EQ(kGrid.boostValues[last.setting.boost], result.acGain);
    EXPECT_EQ(last.setting.vga, result.vgaGain);

    // A DFE that cannot be set up is reported; the CTLE and VGA choice stands.
    trainer.setUp = false;
    const AdaptResult failed = Adapt(request, {catalogue, chain, trainer});
    EXPECT_TRUE(failed.adapted);
    EXPECT_EQ(failed.acGain, result.acGain);
    EXPECT_EQ(failed.messages, (std::vector<std::string>{kDfeSetUpWarning}));

    trainer.failWith = "no DFE map";
    const AdaptResult thrown = Adapt(request, {catalogue, chain, trainer});
    EXPECT_TRUE(thrown.adapted);
    ASSERT_EQ(thrown.messages.size(), 1u);
    EXPECT_NE(thrown.messages[0].find("no DFE map"), std::string::npos);
}

TEST(Adapt, AnImpulseAtAnotherIntervalIsResampledOntoTheGrid) {
    const AdaptRun run = adapt(requestFor(rcChannel(0.8, 16), 16));
    ASSERT_TRUE(run.result.adapted) << run.result.reason;
    EXPECT_EQ(run.calls.front().stimulusSize, kSweepBits * kAdaptSamplesPerBit);
    // The same channel handed over at 32 samples per bit leads to the same choice.
    const AdaptRun direct = adapt(requestFor(rcChannel(0.8, 32), 32));
    EXPECT_EQ(run.result.acGain, direct.result.acGain);
    EXPECT_EQ(run.result.vgaGain, direct.result.vgaGain);
}

TEST(Adapt, RefusesUnusableInputWithOneWarningAndKeepsTheGains) {
    struct Case {
        const char* what;
        AdaptRequest request;
        CandidateGrid grid;
    };
    const Vec good = rcChannel(0.3, kAdaptSamplesPerBit);
    auto with = [&](auto change) {
        AdaptRequest r = requestFor(good);
        change(r);
        return r;
    };
    const std::vector<Case> cases = {
        {"not a finite number", with([](AdaptRequest& r) { r.impulse[5] = NAN; }), kGrid},
        {"not a finite number", with([](AdaptRequest& r) { r.impulse[0] = INFINITY; }), kGrid},
        {"zero everywhere", with([](AdaptRequest& r) { r.impulse.assign(200, 0.0); }), kGrid},
        {"is empty", with([](AdaptRequest& r) { r.impulse.clear(); }), kGrid},
        {"fewer than one unit interval", with([](AdaptRequest& r) { r.impulse.resize(31); }),
         kGrid},
        {"not a number", with([](AdaptRequest& r) { r.dcGainIndex = "high"; }), kGrid},
        {"positive rate", with([](AdaptRequest& r) { r.bitRate = 0; }), kGrid},
        {"positive number", with([](AdaptRequest& r) { r.samplesPerBit = NAN; }), kGrid},
        {"lists no", requestFor(good), {{0}, {}, {1}}},
        {"lists no", requestFor(good), {}},
    };
    for (const Case& c : cases) {
        const AdaptRun run = adapt(c.request, false, c.grid);
        EXPECT_FALSE(run.result.adapted) << c.what;
        EXPECT_TRUE(run.calls.empty()) << c.what;
        EXPECT_NE(run.result.reason.find(c.what), std::string::npos) << run.result.reason;
        ASSERT_EQ(run.result.messages.size(), 1u) << c.what;
        EXPECT_EQ(run.result.messages[0], NoAdaptationWarning(run.result.reason));
        EXPECT_EQ(run.result.messages[0].rfind("WARNING: ", 0), 0u);
        EXPECT_EQ(run.result.messages[0].back(), '\n');
        EXPECT_EQ(std::count(run.result.messages[0].begin(), run.result.messages[0].end(), '\n'),
                  1);
    }

    // Whatever the receiver's chain throws becomes the reason, not an escaping exception.
    FixedCatalogue catalogue(kGrid);
    BoostChain chain(kGrid);
    chain.failWith = "VGA response missing";
    RecordingTrainer trainer;
    const AdaptResult r = Adapt(requestFor(good), {catalogue, chain, trainer});
    EXPECT_FALSE(r.adapted);
    EXPECT_NE(r.reason.find("VGA response missing"), std::string::npos);
}

TEST(AdaptationSetup, FollowsTheCtleAndVgaLabels) {
    struct Case {
        const char* label;
        double bandwidth;
        const char* path;
    };
    for (const Case& c : {Case{"High-Gain, High BW", 16, "High-Gain, High BW"},
                          Case{"High-Gain, Low BW", 8, "High-Gain, Low BW"},
                          Case{"High Data Rate, Peak Freq 3", 28, "Low-Gain"},
                          Case{"High Data Rate, Peak Freq 2", 16, "Low-Gain"},
                          Case{"High Data Rate, Peak Freq 1", 8, "Low-Gain"},
                          Case{"High Data Rate, Peak Freq 0", 4, "Low-Gain"},
                          Case{"QPI", 16, "QPI"}, Case{"Other", 16, "Other"}}) {
        AdaptRequest r = requestFor({1.0});
        r.ctleModeLabel = c.label;
        const AdaptationSetup s = MakeAdaptationSetup(r);
        EXPECT_EQ(s.ctleBandwidth, c.bandwidth) << c.label;
        EXPECT_EQ(s.ctlePath, c.path) << c.label;
    }
    for (auto [label, key] : std::vector<std::pair<const char*, double>>{
             {"3", 28}, {"2", 16}, {"1", 8}, {"0", 4}, {"7", 28}, {"", 28}}) {
        AdaptRequest r = requestFor({1.0});
        r.vgaBandwidthLabel = label;
        EXPECT_EQ(MakeAdaptationSetup(r).vgaBandwidth, key) << label;
    }
    const AdaptationSetup s = MakeAdaptationSetup(requestFor({1.0}));
    EXPECT_EQ(s.family, "Vanta 10 KT");
    EXPECT_EQ(s.grid.samplesPerBit, 32);
    EXPECT_EQ(s.defaults.vga.targetAmplitude, 0.3);
    EXPECT_EQ(s.defaults.vga.mode, "Auto");
    EXPECT_EQ(s.defaults.vga.chosenIndex, -1);
}

}  // namespace
