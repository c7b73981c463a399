// The impulse and waveform processing driven in-process, with a stand-in DFE, for what the
// library cannot show through its C interface in this build: the DFE taps written into the
// impulse response, clock times from the decision step, failures inside a block, and the
// resampling of stage responses.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "framework/entry_points.hpp"
#include "rx/ami_rx_fft_mult.hpp"

namespace {

constexpr double kBitTime = 1e-10;
constexpr double kDt = kBitTime / 32;

class StandInDfe : public DFE {
  public:
    std::vector<double> weights;
    std::vector<int> codes;
    std::vector<double> clockTimes;
    bool throwInProcess = false;

    bool IsActive() const override { return true; }
    bool IsLocked() const override { return false; }
    using DFE::Process;
    void Process(double* samples, std::int64_t count, double, BlockResult& r) override {
        if (throwInProcess) throw std::runtime_error("decision step failed");
        for (std::int64_t i = 0; i < count; ++i) samples[i] -= 0.125;
        r.clockTimes = clockTimes;
    }
    std::vector<double> TapWeights() const override { return weights; }
    std::vector<int> TapCodes() const override { return codes; }
    double TapDataLevel() const override { return 0.25; }
    void CurrentTaps(std::vector<double>& w, std::vector<int>& c) const override {
        w = weights;
        c = codes;
    }
};

class TestModel : public AmiRxFFTMult {
  public:
    TestModel(long rowSize, std::unique_ptr<DFE> d)
        : AmiRxFFTMult(rowSize, 0, kDt, kBitTime, "(Test)") {
        dfe = std::move(d);
        paramsOut = "(Test\n  (Rx_Rj  1.0) )\n";
    }
};

std::unique_ptr<StandInDfe> ElevenTaps() {
    auto d = std::make_unique<StandInDfe>();
    for (int k = 1; k <= 11; ++k) {
        d->weights.push_back(0.01 * k);
        d->codes.push_back(k);
    }
    return d;
}

}  // namespace

TEST(DfeTapsInImpulse, ElevenTapsLandOneBitApartAfterTheMainCursor) {
    // The pulse of a +-0.5 V bit first peaks at 100 (where its window takes in both samples).
    // Tap k subtracts weight times data level (0.01 k * 0.25 V) from the pulse over the bit
    // around 100 + 32 k: one impulse sample of -0.01 k * 0.25 / (0.5 dt) at 84 + 32 k.
    std::vector<double> impulse(1000, 0.0);
    impulse[100] = 3.0;
    impulse[99] = 1.0;
    TestModel model(1000, ElevenTaps());
    model.Init(impulse.data(), 1);
    for (int i = 0; i < 1000; ++i) {
        const int k = (i - 84) / 32;
        if (i > 84 && (i - 84) % 32 == 0 && k <= 11) {
            EXPECT_DOUBLE_EQ(impulse[i], -0.01 * k * 0.25 / (0.5 * kDt)) << i;
        } else if (i != 99 && i != 100) {
            EXPECT_EQ(impulse[i], 0.0) << i;
        }
    }
    std::string expected = "(Test\n  (Rx_Rj  1.0) ";
    for (int k = 1; k <= 11; ++k) {
        char entry[64];
        std::snprintf(entry, sizeof entry, " (tap_%d %d %f)", k, k, 0.01 * k);
        expected += entry;
    }
    EXPECT_EQ(model.ParamsOut(), expected + ")\n");
}

TEST(DfeTapsInImpulse, TapsPastTheEndOfTheResponseAreNotWritten) {
    // Main cursor at 100 of 200 samples: only taps 1 to 3 (116, 148, 180) fit.
    std::vector<double> impulse(200 + 64, 0.0);  // the tail stands for memory beyond row_size
    impulse[100] = 1.0;
    TestModel model(200, ElevenTaps());
    model.Init(impulse.data(), 1);
    EXPECT_DOUBLE_EQ(impulse[180], -0.03 * 0.25 / (0.5 * kDt));
    for (std::size_t i = 200; i < impulse.size(); ++i) EXPECT_EQ(impulse[i], 0.0) << i;
}

TEST(DecisionStep, ClockTimesStopAtOnePerBitAndAreTerminated) {
    auto d = std::make_unique<StandInDfe>();
    for (int i = 0; i < 100; ++i) d->clockTimes.push_back(i * kBitTime);
    TestModel model(128, std::move(d));
    std::vector<double> impulse(128, 0.0);
    model.Init(impulse.data(), 1);
    std::vector<double> wave(160, 0.5);  // five bits
    std::vector<double> clocks(wave.size() + 1, 9.0);
    ASSERT_EQ(model.GetWave(wave.data(), static_cast<long>(wave.size()), clocks.data()), 1);
    for (int i = 0; i < 5; ++i) EXPECT_DOUBLE_EQ(clocks[i], i * kBitTime);
    EXPECT_EQ(clocks[5], -1.0);
    EXPECT_EQ(clocks[6], 9.0);
    EXPECT_DOUBLE_EQ(wave[0], 0.375);  // the feedback was subtracted
}

TEST(DecisionStep, FailureInsideABlockLeavesTheSimulatorBuffersClean) {
    auto d = std::make_unique<StandInDfe>();
    d->throwInProcess = true;
    std::vector<double> impulse(64, 0.0);
    auto* handle = new AmiHandle<AmiModel>();
    handle->model = new TestModel(64, std::move(d));
    static_cast<TestModel*>(handle->model)->Init(impulse.data(), 1);

    std::vector<double> wave(256, 0.25);
    std::vector<double> clocks(257, 9.0);
    char* out = nullptr;
    EXPECT_EQ(ami_entry::GetWaveImpl<AmiModel>(wave.data(), 256, clocks.data(), &out, handle), 0);
    EXPECT_EQ(wave, std::vector<double>(256, 0.25));
    EXPECT_EQ(clocks[0], -1.0);
    EXPECT_EQ(clocks[1], 9.0);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out, "(Test\n)\n");
    EXPECT_EQ(ami_entry::CloseImpl<AmiModel>(handle), 1);
}

TEST(InterpolateResponse, LinearInMagnitudeAndPhaseBetweenPoints) {
    const AmiRxFFTMult::StageResponse stage{{1e9, std::polar(1.0, 0.0)},
                                            {2e9, std::polar(3.0, M_PI / 2)}};
    const std::complex<double> below = AmiRxFFTMult::InterpolateResponse(stage, 0.0);
    EXPECT_NEAR(below.real(), 1.0, 1e-15);
    const std::complex<double> mid = AmiRxFFTMult::InterpolateResponse(stage, 1.5e9);
    EXPECT_NEAR(std::abs(mid), 2.0, 1e-12);
    EXPECT_NEAR(std::arg(mid), M_PI / 4, 1e-12);
}

TEST(InterpolateResponse, AboveTheTableFallsAsOneOverFWithTheLastPhaseSlope) {
    // Twelve points of unit magnitude, phase -10 degrees per GHz.
    AmiRxFFTMult::StageResponse stage;
    for (int i = 0; i <= 11; ++i) stage.push_back({i * 1e9, std::polar(1.0, -i * 10 * M_PI / 180)});
    const std::complex<double> h = AmiRxFFTMult::InterpolateResponse(stage, 22e9);
    const std::complex<double> expected = std::polar(0.5, -220 * M_PI / 180);
    EXPECT_NEAR(h.real(), expected.real(), 1e-12);
    EXPECT_NEAR(h.imag(), expected.imag(), 1e-12);
}

TEST(InterpolateResponse, ShortResponsesUseTheIntervalsTheyHave) {
    AmiRxFFTMult::StageResponse three;
    for (int i = 0; i <= 2; ++i) three.push_back({i * 1e9, std::polar(1.0, -i * 10 * M_PI / 180)});
    const std::complex<double> h = AmiRxFFTMult::InterpolateResponse(three, 4e9);
    EXPECT_NEAR(std::abs(h), 0.5, 1e-12);
    EXPECT_NEAR(std::arg(h), -40 * M_PI / 180, 1e-12);

    const AmiRxFFTMult::StageResponse one{{1e9, std::polar(2.0, 0.3)}};
    const std::complex<double> single = AmiRxFFTMult::InterpolateResponse(one, 4e9);
    EXPECT_NEAR(std::abs(single), 0.5, 1e-12);
    EXPECT_NEAR(std::arg(single), 0.3, 1e-12);
}

TEST(DecisionStep, BlockTooLongForTheTransformsFailsEveryTimeAndLeavesTheModelUsable) {
    std::vector<double> impulse(64, 0.0);
    auto* handle = new AmiHandle<AmiModel>();
    handle->model = new TestModel(64, std::make_unique<StandInDfe>());
    static_cast<TestModel*>(handle->model)->Init(impulse.data(), 1);

    // The claimed length is refused before any sample is read, also the second time, when the
    // model already holds that length as its block length.
    std::vector<double> small(16, 0.25);
    std::vector<double> clocks(17, 9.0);
    char* out = nullptr;
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(
            ami_entry::GetWaveImpl<AmiModel>(small.data(), 1 << 30, clocks.data(), &out, handle),
            0);
        EXPECT_EQ(clocks[0], -1.0);
    }
    std::vector<double> wave(256, 0.25);
    clocks.assign(257, 9.0);
    EXPECT_EQ(ami_entry::GetWaveImpl<AmiModel>(wave.data(), 256, clocks.data(), &out, handle), 1);
    EXPECT_DOUBLE_EQ(wave[100], 0.125);
    EXPECT_EQ(ami_entry::CloseImpl<AmiModel>(handle), 1);
}
