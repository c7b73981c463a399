// The input history the receiver keeps at any count of samples per bit, odd ones included: the
// measure of the cascade's reach against the same measure at the neighbouring even counts, and
// the waveform out of AMI_GetWave against a direct sum over the stage's whole impulse response.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "mkdb/writers.hpp"
#include "rx/filter_stage.hpp"
#include "rx/user_model.hpp"
#include "rx_test_support.hpp"

using namespace rxtest;

namespace {

constexpr double kBitTime = 1 / 10.3125e9;

class KitStages : public v10kx_ami_rx::UserModel {
  public:
    using UserModel::UserModel;
    const std::vector<v10kx_ami_rx::StageResponse>& Stages() const { return stageResponses; }
};

// A random bit stream of 1 V swing.
std::vector<double> RandomNrz(std::size_t bits, int spb) {
    std::vector<double> wave(bits * static_cast<std::size_t>(spb));
    std::uint32_t state = 0x2468ace1u;
    for (std::size_t b = 0; b < bits; ++b) {
        state = state * 1664525u + 1013904223u;
        const double level = (state >> 31) ? 0.5 : -0.5;
        for (int i = 0; i < spb; ++i) wave[b * static_cast<std::size_t>(spb) + i] = level;
    }
    return wave;
}

}  // namespace

// An odd count of samples per bit does not sum away the ringing at the Nyquist frequency that
// sampling a stage leaves; the measures must still judge the response, which lasts as long in
// time as at the even counts around it, not run to their cap.
TEST(CascadeSpan, OddSamplesPerBitReachAsFarInTimeAsTheEvenNeighbours) {
    TempDir dir;
    mkdb::writeRxDatabase(mkdb::defaultRxDescription(), dir.path());
    const std::vector<std::vector<std::pair<std::string, std::string>>> settings = {
        {{"cdr_sel", "1"}},  // one CTLE stage and the VGA
        {{"cdr_sel", "1"}, {"ctle_hg_sel", "1"}, {"eqz_s4_ac_gain", "12"}, {"vga_gain", "3"}}};
    for (const auto& values : settings) {
        const std::string params = Params(dir.path(), values);
        std::vector<double> impulse(512, 0.0);
        impulse[10] = 1.0;
        const KitStages model(impulse.data(), 512, 0, kBitTime / 32, kBitTime, params.c_str());
        const auto& stages = model.Stages();
        ASSERT_GE(stages.size(), 2u) << model.MsgLog();
        // Per bit of time: the span and each stage's taps at spb samples per bit.
        auto history = [&](int spb) {
            return static_cast<double>(
                       v10kx_ami_rx::MeasureCascadeSpan(stages, kBitTime / spb, spb).history) /
                   spb;
        };
        auto lookAhead = [&](int spb) {
            return static_cast<double>(
                       v10kx_ami_rx::MeasureCascadeSpan(stages, kBitTime / spb, spb).lookAhead) /
                   spb;
        };
        auto taps = [&](int spb) {
            std::vector<double> bits;
            for (const auto& t : v10kx_ami_rx::CascadeStageTaps(stages, kBitTime / spb, spb))
                bits.push_back(static_cast<double>(t.size()) / spb);
            return bits;
        };
        for (int spb : {21, 25, 31, 33}) {
            SCOPED_TRACE(testing::Message()
                         << spb << " samples per bit, " << stages.size() << " stages");
            const double h = history(spb), below = history(spb - 1), above = history(spb + 1);
            EXPECT_NEAR(h, 0.5 * (below + above), 0.1 * std::max(below, above));
            const double l = lookAhead(spb), lBelow = lookAhead(spb - 1),
                         lAbove = lookAhead(spb + 1);
            EXPECT_NEAR(l, 0.5 * (lBelow + lAbove), 0.1 * std::max(lBelow, lAbove));
            const std::vector<double> t = taps(spb), tBelow = taps(spb - 1), tAbove = taps(spb + 1);
            for (std::size_t k = 0; k < t.size(); ++k)
                EXPECT_LE(t[k], 1.1 * std::max(tBelow[k], tAbove[k])) << "stage " << k;
        }
        // Near one sample per bit the bit sums nothing away at all.
        for (int spb : {1, 3}) {
            EXPECT_LT(history(spb) * spb, 0.01 * v10kx_ami_rx::kMaxCascadeHistory) << spb;
            for (double t : taps(spb))
                EXPECT_LT(t * spb, 0.01 * v10kx_ami_rx::kMaxCascadeHistory) << spb;
        }
    }
}

// The oracle: the stage's impulse response as AMI_Init gives it on a long grid (no history cut),
// summed directly against a random bit stream, what it rings before time zero taken at time
// zero (a causal filter cannot wait for inputs still to come). Compared after the mean of
// neighbouring samples, which takes out only the Nyquist-frequency ringing of the sampled
// response that the history leaves out at odd counts; the rest must stay within the history's
// promise (four standard deviations, here the worst of 600 samples: twice the figure).
TEST(CascadeSpan, OddSamplesPerBitWaveformMatchesADirectSumOverTheWholeResponse) {
    TempDir dir;
    TestDatabase db;
    db.frequencies = FrequencyGrid(0.5e9, 400e9);
    db.ctle = [](double f) {
        const std::complex<double> s(0, f);
        return (1.0 + s / 2e9) / ((1.0 + s / 8e9) * (1.0 + s / 15e9));
    };
    db.vga = FlatStage(0.0);
    WriteTestDatabase(dir.path(), db);
    const std::string params = Params(dir.path(), {{"cdr_sel", "1"}, {"dfe", "(mode 0)"}});
    for (int spb : {21, 25, 31, 32, 33}) {
        SCOPED_TRACE(testing::Message() << spb << " samples per bit");
        const double dt = kBitTime / spb;
        const std::size_t n = std::size_t{1} << 16;
        const std::size_t k0 = 8192;
        std::vector<double> h(n, 0.0);
        h[k0] = 1.0;
        {
            RxInstance oracle(h, dt, kBitTime, params);
            ASSERT_TRUE(oracle.ok()) << oracle.message();
        }
        double before = 0;
        for (std::size_t i = 0; i < k0; ++i) before += h[i];

        std::vector<double> small(512, 0.0);
        small[0] = 1.0;
        RxInstance rx(small, dt, kBitTime, params);
        ASSERT_TRUE(rx.ok()) << rx.message();
        const std::vector<double> input = RandomNrz(1500, spb);
        std::vector<double> out;
        std::vector<double> clocks(1001);
        for (std::size_t at = 0; at < input.size(); at += 1000) {
            std::vector<double> block(
                input.begin() + static_cast<long>(at),
                input.begin() + static_cast<long>(std::min(input.size(), at + 1000)));
            ASSERT_EQ(rx.GetWave(block, clocks), 1);
            out.insert(out.end(), block.begin(), block.end());
        }
        double worst = 0, previous = 0;
        const std::size_t from = input.size() / 2;
        for (std::size_t t = from; t < from + 600; ++t) {
            double y = before * input[t];
            for (std::size_t lag = 0; lag <= t && lag < n - k0; ++lag)
                y += h[k0 + lag] * input[t - lag];
            const double d = y - out[t];
            if (t > from) worst = std::max(worst, std::abs(0.5 * (d + previous)));
            previous = d;
        }
        EXPECT_LT(worst, 2 * v10kx_ami_rx::kHistoryErrorPerVolt);
    }
}
