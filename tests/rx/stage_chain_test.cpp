// The receiver's waveform cascade in-process on made-up stages: each stage a causal filter with
// its own history, each followed by its amplitude curve. Checked against a direct time-domain
// evaluation of the same cascade, and the stage filters against the stage responses they stand
// for, by a direct DTFT of their taps.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>

#include "engine/interpolation/interpolation.hpp"
#include "rx/ami_rx_fft_mult.hpp"
#include "rx/filter_stage.hpp"

namespace {

constexpr double kBitTime = 1 / 10.3125e9;
constexpr int kSpb = 32;
constexpr double kDt = kBitTime / kSpb;

using v10kx_ami_rx::StageResponse;

// A pole-zero stage, sampled beyond the Nyquist frequency of 32 samples per bit, so that the
// response on the grid is the pole-zero response itself, with no extrapolation.
StageResponse PoleZeroStage(double gain, double zero, double pole1, double pole2) {
    StageResponse stage;
    for (int i = 0; i <= 400; ++i) {
        const double f = 5e8 * i;
        const std::complex<double> s(0, f);
        stage.emplace_back(f, gain * (1.0 + s / zero) / ((1.0 + s / pole1) * (1.0 + s / pole2)));
    }
    return stage;
}

class ChainModel : public AmiRxFFTMult {
  public:
    explicit ChainModel(long rowSize) : AmiRxFFTMult(rowSize, 0, kDt, kBitTime, "(Test)") {
        stageResponses = {PoleZeroStage(0.5, 2e9, 8e9, 15e9), PoleZeroStage(1.2, 3e9, 9e9, 20e9),
                          PoleZeroStage(1.5, 1e12, 12e9, 25e9)};
        for (int s = 0; s < 3; ++s) {
            std::vector<double> in, out;
            for (int i = 0; i <= 40; ++i) {
                in.push_back(-1.0 + 0.05 * i);
                out.push_back((0.6 + 0.1 * s) * std::tanh(in.back() / (0.6 + 0.1 * s)));
            }
            stageCurveIn.push_back(in);
            stageCurveOut.push_back(out);
        }
        stageCurveIn[1].clear();  // a stage without a curve
        stageCurveOut[1].clear();
    }
    const std::vector<StageResponse>& Stages() const { return stageResponses; }
    const std::vector<double>& CurveIn(std::size_t k) const { return stageCurveIn[k]; }
    const std::vector<double>& CurveOut(std::size_t k) const { return stageCurveOut[k]; }
};

std::vector<double> Nrz(std::size_t bits) {
    std::vector<double> wave(bits * kSpb);
    unsigned state = 0x1234;
    for (std::size_t b = 0; b < bits; ++b) {
        const unsigned bit = ((state >> 14) ^ (state >> 13)) & 1u;
        state = ((state << 1) | bit) & 0x7fffu;
        for (int i = 0; i < kSpb; ++i) wave[b * kSpb + i] = bit ? 0.3 : -0.3;
    }
    return wave;
}

std::vector<double> RunInBlocks(const std::vector<double>& input, std::size_t blockSamples) {
    ChainModel model(512);
    std::vector<double> impulse(512, 0.0);
    impulse[3] = 1.0 / kDt;
    model.Init(impulse.data(), 1);
    std::vector<double> out = input;
    std::vector<double> clocks(blockSamples + 1);
    for (std::size_t done = 0; done < out.size(); done += blockSamples) {
        const std::size_t c = std::min(blockSamples, out.size() - done);
        EXPECT_EQ(model.GetWave(out.data() + done, static_cast<long>(c), clocks.data()), 1);
    }
    return out;
}

}  // namespace

TEST(StageChain, AnyBlockLengthGivesTheDirectTimeDomainCascade) {
    const std::size_t bits = 3000;
    const std::vector<double> input = Nrz(bits);

    // The oracle: each stage's taps convolved sample by sample from silence, then its curve.
    ChainModel reference(512);
    const auto taps = v10kx_ami_rx::CascadeStageTaps(reference.Stages(), kDt, kBitTime / kDt);
    ASSERT_EQ(taps.size(), 3u);
    std::vector<double> expected = input;
    for (std::size_t k = 0; k < taps.size(); ++k) {
        std::vector<double> y(expected.size(), 0.0);
        for (std::size_t n = 0; n < y.size(); ++n) {
            for (std::size_t j = 0; j < taps[k].size() && j <= n; ++j)
                y[n] += taps[k][j] * expected[n - j];
        }
        if (!reference.CurveIn(k).empty()) {
            Interpolate("NR3_linear", reference.CurveIn(k), reference.CurveOut(k), y, expected);
        } else {
            expected = y;
        }
    }

    for (std::size_t blockBits : {1u, 7u, 64u, 1024u, 3000u}) {
        const std::vector<double> out = RunInBlocks(input, blockBits * kSpb);
        double worst = 0;
        for (std::size_t i = 0; i < out.size(); ++i)
            worst = std::max(worst, std::abs(out[i] - expected[i]));
        EXPECT_LT(worst, 1e-12) << "blocks of " << blockBits << " bits";
    }
}

TEST(StageChain, StageTapsHaveTheStageResponse) {
    ChainModel model(512);
    const auto taps = v10kx_ami_rx::CascadeStageTaps(model.Stages(), kDt, kBitTime / kDt);
    for (std::size_t k = 0; k < taps.size(); ++k) {
        const v10kx_ami_rx::StageSampler response(model.Stages()[k]);
        // Long enough to hold the poles' decay (above 20 ps: 200 samples).
        EXPECT_GT(taps[k].size(), 200u);
        // Up to half the bit rate, where the eye is made, the taps' DTFT is the stage response
        // (what rang before time zero, now at time zero, moves it a little at high frequencies).
        for (double f : {0.0, 1e8, 1e9, 2.5e9, 5.15625e9}) {
            std::complex<double> dtft = 0;
            for (std::size_t n = 0; n < taps[k].size(); ++n)
                dtft += taps[k][n] * std::polar(1.0, -2 * std::numbers::pi * f * kDt * n);
            const std::complex<double> h = response(f);
            EXPECT_LT(std::abs(dtft - h), 1e-2 * std::abs(response(0.0)))
                << "stage " << k << " at " << f << " Hz: " << dtft << " against " << h;
        }
    }
}
