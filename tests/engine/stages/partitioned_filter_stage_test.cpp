// The per-stage overlap-save filter against a brute-force time-domain convolution, whatever the
// cut of the stream into blocks and whatever transform length the block length brings.
#include "engine/stages/partitioned_filter_stage.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

std::vector<double> RandomSignal(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> x(n);
    for (double& v : x) v = u(gen);
    return x;
}

// y[n] = sum_k h[k] x[n - k], the inputs before the stream zero.
std::vector<double> DirectConvolution(const std::vector<double>& x, const std::vector<double>& h) {
    std::vector<double> y(x.size(), 0.0);
    for (std::size_t n = 0; n < x.size(); ++n) {
        for (std::size_t k = 0; k < h.size() && k <= n; ++k) y[n] += h[k] * x[n - k];
    }
    return y;
}

std::vector<double> RunInBlocks(PartitionedFilterStage& stage, std::vector<double> x,
                                const std::vector<std::size_t>& blocks) {
    std::size_t done = 0;
    for (std::size_t i = 0; done < x.size(); ++i) {
        const std::size_t c = std::min(blocks[i % blocks.size()], x.size() - done);
        stage.SetBlockLength(c);
        stage.Process(x.data() + done, c);
        done += c;
    }
    return x;
}

}  // namespace

TEST(PartitionedFilterStage, BlocksOfAnySizeMatchTheDirectConvolution) {
    const std::vector<double> x = RandomSignal(6000, 1);
    for (std::size_t taps : {1u, 2u, 31u, 700u, 1500u}) {
        const std::vector<double> h = RandomSignal(taps, 2 + static_cast<unsigned>(taps));
        const std::vector<double> expected = DirectConvolution(x, h);
        const std::vector<std::vector<std::size_t>> cuts = {{1},    {7},    {64},
                                                            {1024}, {6000}, {3, 500, 1, 2047, 90}};
        for (const auto& cut : cuts) {
            PartitionedFilterStage stage(h);
            const std::vector<double> y = RunInBlocks(stage, x, cut);
            double worst = 0;
            for (std::size_t i = 0; i < y.size(); ++i)
                worst = std::max(worst, std::abs(y[i] - expected[i]));
            EXPECT_LT(worst, 1e-12 * std::sqrt(static_cast<double>(taps)))
                << taps << " taps, first block " << cut.front();
        }
    }
}

TEST(PartitionedFilterStage, ATransformShorterThanTheBlockTakesSeveralPasses) {
    // 300 taps on a block of 10000 samples: the chosen transform holds the block in passes.
    const std::vector<double> h = RandomSignal(300, 5);
    const std::vector<double> x = RandomSignal(10000, 6);
    PartitionedFilterStage stage(h, x.size());
    EXPECT_LT(stage.TransformLength(), x.size());
    std::vector<double> y = x;
    stage.Process(y.data(), y.size());
    const std::vector<double> expected = DirectConvolution(x, h);
    for (std::size_t i = 0; i < y.size(); i += 97) EXPECT_NEAR(y[i], expected[i], 1e-12) << i;
}

TEST(PartitionedFilterStage, TransformLengthFollowsTheResponseNotTheBlock) {
    for (std::size_t taps : {100u, 700u, 3000u}) {
        for (std::size_t block : {1u << 14, 1u << 17, 1u << 20}) {
            const std::size_t length = ChooseStageTransformLength(taps, block);
            EXPECT_EQ(length & (length - 1), 0u) << "a power of two";
            EXPECT_GT(length, taps);
            // Far below the whole window (twice the block) once blocks are long.
            EXPECT_LE(length, 16 * taps) << taps << " taps, block " << block;
        }
        // A short block needs no more than the block and the history in one pass.
        EXPECT_LT(ChooseStageTransformLength(taps, 32), 2 * (taps + 32));
    }
    EXPECT_THROW(PartitionedFilterStage(std::vector<double>{}), std::invalid_argument);
}
