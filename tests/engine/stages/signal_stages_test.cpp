// Stages of a signal path: overlap-save over blocks of any size against a direct convolution,
// the single-transform cascade against stage-by-stage filtering, and the amplitude curve against
// the interpolation it stands for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/interpolation/interpolation.hpp"
#include "engine/stages/amplitude_curve_stage.hpp"
#include "engine/stages/overlap_save_chain.hpp"
#include "random_signal.hpp"

namespace {

using enginetest::RandomSignal;

std::vector<double> Convolve(const std::vector<double>& x, const std::vector<double>& h) {
    std::vector<double> y(x.size(), 0.0);
    for (std::size_t n = 0; n < x.size(); ++n)
        for (std::size_t k = 0; k < h.size() && k <= n; ++k) y[n] += h[k] * x[n - k];
    return y;
}

}  // namespace

TEST(OverlapSaveChain, BlocksOfAnySizeMatchTheDirectConvolution) {
    const std::vector<double> g = RandomSignal(40, 1);
    const std::vector<double> h = RandomSignal(25, 2);
    const std::vector<double> x = RandomSignal(3000, 3);
    const std::vector<double> expected = Convolve(Convolve(x, g), h);

    for (FftEngine engine : {FftEngine::Fftw, FftEngine::Gsl}) {
        auto workspace = std::make_shared<FftWorkspace>(128, engine);
        OverlapSaveChain chain(workspace, g.size() + h.size() - 2);
        chain.Append(SpectrumStage::FromTaps(g, workspace));
        chain.Append(SpectrumStage::FromTaps(h, workspace));
        // Blocks shorter than, equal to and longer than one transform's capacity (65).
        std::size_t pos = 0;
        for (std::size_t len : {1u, 64u, 65u, 66u, 7u, 500u, 2297u}) {
            std::vector<double> block(x.begin() + static_cast<long>(pos),
                                      x.begin() + static_cast<long>(pos + len));
            chain.Process(block.data(), block.size());
            for (std::size_t i = 0; i < len; ++i) {
                ASSERT_NEAR(block[i], expected[pos + i], 1e-12) << pos + i;
            }
            pos += len;
        }
        ASSERT_EQ(pos, x.size());
    }
}

TEST(OverlapSaveChain, CarriedHistoryContinuesTheStreamOnAnotherGrid) {
    const std::vector<double> h = RandomSignal(30, 4);
    const std::vector<double> x = RandomSignal(1000, 5);
    const std::vector<double> expected = Convolve(x, h);
    auto small = std::make_shared<FftWorkspace>(64);
    OverlapSaveChain first(small, 29);
    first.Append(SpectrumStage::FromTaps(h, small));
    std::vector<double> a(x.begin(), x.begin() + 300);
    first.Process(a.data(), a.size());

    auto large = std::make_shared<FftWorkspace>(512);
    OverlapSaveChain second(large, 100);
    second.Append(SpectrumStage::FromTaps(h, large));
    second.CarryHistoryFrom(first);
    std::vector<double> b(x.begin() + 300, x.end());
    second.Process(b.data(), b.size());
    for (std::size_t i = 0; i < b.size(); ++i) ASSERT_NEAR(b[i], expected[300 + i], 1e-12) << i;
}

TEST(OverlapSaveChain, CascadeFromSilenceIsTheStagesOneAfterAnother) {
    const std::vector<double> g = RandomSignal(20, 6);
    const std::vector<double> h = RandomSignal(20, 7);
    std::vector<double> x = RandomSignal(100, 8);
    const std::vector<double> expected = Convolve(Convolve(x, g), h);
    auto workspace = std::make_shared<FftWorkspace>(256);
    const auto sg = SpectrumStage::FromTaps(g, workspace);
    const auto sh = SpectrumStage::FromTaps(h, workspace);
    FilterCascadeFromSilence({sg.get(), sh.get()}, 156, x.data(), x.size());
    for (std::size_t i = 0; i < x.size(); ++i) ASSERT_NEAR(x[i], expected[i], 1e-12) << i;
    EXPECT_THROW(FilterCascadeFromSilence({sg.get()}, 200, x.data(), x.size()),
                 std::invalid_argument);
}

TEST(AmplitudeCurveStage, GivesTheSameBitsAsTheLinearInterpolation) {
    // Ascending and descending tables, unevenly and evenly spaced (the even ones take their
    // interval from the spacing); samples inside, on the points, beyond both ends, with jumps
    // that leave the previous interval far behind, and runs of slowly moving values.
    std::vector<std::pair<std::vector<double>, std::vector<double>>> tables{
        {{-2.0, -1.5, -0.7, -0.1, 0.0, 0.2, 0.9, 1.4, 2.0},
         {-0.8, -0.75, -0.5, -0.09, 0.0, 0.19, 0.6, 0.7, 0.79}}};
    std::vector<double> evenIn, evenOut;
    for (int i = 0; i <= 80; ++i) {
        evenIn.push_back(-2.0 + 4.0 * i / 80);
        evenOut.push_back(0.8 * std::tanh(evenIn.back() / 0.8));
    }
    tables.emplace_back(evenIn, evenOut);
    // Nearly even (points up to a fifth of a step off): the spacing's guess is often one off.
    std::vector<double> nearIn, nearOut;
    for (int i = 0; i <= 80; ++i) {
        nearIn.push_back(-2.0 + 0.05 * i + 0.01 * std::sin(1.7 * i));
        nearOut.push_back(0.8 * std::tanh(nearIn.back() / 0.8));
    }
    tables.emplace_back(nearIn, nearOut);

    std::vector<double> samples = RandomSignal(2000, 9);
    for (double& v : samples) v *= 2.6;
    for (std::size_t i = 0; i < 500; ++i) samples[i] = -2.2 + 0.009 * static_cast<double>(i);
    for (const auto& table : tables)
        samples.insert(samples.end(), table.first.begin(), table.first.end());
    // The odd values at both ends: the vector path takes whole groups of four from the start,
    // the scalar path what is left at the end.
    const std::vector<double> odd{-0.0,   std::numeric_limits<double>::infinity(),
                                  -1e300, std::numeric_limits<double>::quiet_NaN(),
                                  1e300,  -std::numeric_limits<double>::infinity(),
                                  2.0,    -2.0};
    samples.insert(samples.begin(), odd.begin(), odd.end());
    samples.insert(samples.end(), odd.begin(), odd.begin() + 4);

    for (const auto& [in, out] : tables) {
        for (bool descending : {false, true}) {
            std::vector<double> x = in, y = out;
            if (descending) {
                std::reverse(x.begin(), x.end());
                std::reverse(y.begin(), y.end());
            }
            std::vector<double> expected;
            Interpolate(kInterpNr3Linear, x, y, samples, expected);
            AmplitudeCurveStage stage(x, y);
            std::vector<double> got = samples;
            stage.Process(got.data(), got.size());
            for (std::size_t i = 0; i < got.size(); ++i) {
                ASSERT_EQ(std::memcmp(&got[i], &expected[i], sizeof(double)), 0)
                    << x.size() << " points, " << (descending ? "descending " : "ascending ") << i
                    << ": " << got[i] << " vs " << expected[i];
            }
        }
    }
}

TEST(AmplitudeCurveStage, EmptyTablePassesAndBadTablesAreRefused) {
    AmplitudeCurveStage identity({}, {});
    std::vector<double> x{0.3, -4.0};
    identity.Process(x.data(), x.size());
    EXPECT_EQ(x, (std::vector<double>{0.3, -4.0}));
    EXPECT_THROW(AmplitudeCurveStage({1.0}, {1.0}), std::invalid_argument);
    EXPECT_THROW(AmplitudeCurveStage({0.0, 1.0, 1.0}, {0, 1, 2}), std::invalid_argument);
    EXPECT_THROW(AmplitudeCurveStage({0.0, 1.0}, {0.0}), std::invalid_argument);
}
