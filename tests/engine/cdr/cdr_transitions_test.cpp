// Zero crossings found for the clock recovery, by hand and across block boundaries.
#include "engine/cdr/cdr_transitions.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

std::vector<double> SquareWave(int periods, int half) {
    std::vector<double> x;
    for (int p = 0; p < periods; ++p) {
        for (int i = 0; i < half; ++i) x.push_back(1.0);
        for (int i = 0; i < half; ++i) x.push_back(-1.0);
    }
    return x;
}

}  // namespace

TEST(ExtractTransitions, HandWorkedCrossings) {
    TransitionList t = ExtractTransitions({-1, 1}, "All");
    ASSERT_EQ(t.positions.size(), 1u);
    EXPECT_DOUBLE_EQ(t.positions[0], 0.5);
    EXPECT_EQ(t.levels[0], -0.5);
    EXPECT_EQ(t.initial_polarity, -1.0);

    t = ExtractTransitions({-3, 1}, "All");
    EXPECT_DOUBLE_EQ(t.positions[0], 0.75);

    // 2 -> -2 at 1.5, then -2 -> 0 is no crossing (0 is not above 0), 0 -> 4 crosses at 3.0.
    t = ExtractTransitions({1, 2, -2, 0, 4}, "Anything");
    EXPECT_EQ(t.positions, (std::vector<double>{1.5, 3.0}));
    EXPECT_EQ(t.levels, (std::vector<double>{0.5, -0.5}));
    EXPECT_EQ(t.sample_count, 5.0);
}

TEST(ExtractTransitions, BlocksWithoutCrossingsAndEmptyBlocks) {
    TransitionList t = ExtractTransitions({0.1, 0.2, 0.3}, "All");
    EXPECT_TRUE(t.positions.empty());
    EXPECT_EQ(t.initial_polarity, 1.0);
    EXPECT_EQ(t.sample_count, 3.0);
    t = ExtractTransitions({}, "All");
    EXPECT_TRUE(t.positions.empty());
    EXPECT_EQ(t.initial_polarity, 1.0);
    EXPECT_EQ(t.sample_count, 0.0);
}

TEST(ExtractTransitions, RisingAndFallingSelectOneDirection) {
    const std::vector<double> x = SquareWave(3, 4);  // falls at 3.5, 11.5, 19.5; rises between
    const TransitionList all = ExtractTransitions(x, "All");
    const TransitionList rising = ExtractTransitions(x, "Rising");
    const TransitionList falling = ExtractTransitions(x, "Falling");
    EXPECT_EQ(all.positions.size(), 5u);
    EXPECT_EQ(falling.positions, (std::vector<double>{3.5, 11.5, 19.5}));
    EXPECT_EQ(rising.positions, (std::vector<double>{7.5, 15.5}));
    for (double level : rising.levels) EXPECT_EQ(level, -0.5);
    for (double level : falling.levels) EXPECT_EQ(level, 0.5);
    // "All" alternates from the initial polarity.
    EXPECT_EQ(all.levels, (std::vector<double>{0.5, -0.5, 0.5, -0.5, 0.5}));
}

TEST(TransitionExtractor, EveryCrossingFoundOnceWhateverTheBlockLength) {
    std::vector<double> x;
    for (int i = 0; i < 500; ++i) x.push_back(std::sin(0.37 * i + 0.1) + 0.2 * std::cos(1.3 * i));
    const TransitionList whole = ExtractTransitions(x, "All");
    ASSERT_GT(whole.positions.size(), 50u);
    for (std::size_t block : {1u, 2u, 3u, 7u, 32u, 499u}) {
        TransitionExtractor extractor;
        std::vector<double> positions, levels;
        for (std::size_t start = 0; start < x.size(); start += block) {
            const std::size_t n = std::min(block, x.size() - start);
            TransitionList part;
            extractor.Extract(x.data() + start, n, part);
            for (std::size_t i = 0; i < part.positions.size(); ++i) {
                positions.push_back(part.positions[i] + static_cast<double>(start));
                levels.push_back(part.levels[i]);
            }
        }
        ASSERT_EQ(positions.size(), whole.positions.size()) << "block " << block;
        for (std::size_t i = 0; i < positions.size(); ++i) {
            EXPECT_NEAR(positions[i], whole.positions[i], 1e-12) << "block " << block;
            EXPECT_EQ(levels[i], whole.levels[i]);
        }
    }
}

TEST(TransitionExtractor, NonFiniteSamplesGiveNoCrossings) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    TransitionExtractor extractor;
    TransitionList t;
    const std::vector<double> x{-1, nan, 1, -inf, 1, -1};
    extractor.Extract(x.data(), x.size(), t);
    // Only the last pair (1, -1) is usable.
    ASSERT_EQ(t.positions.size(), 1u);
    EXPECT_DOUBLE_EQ(t.positions[0], 4.5);
    for (double p : t.positions) EXPECT_TRUE(std::isfinite(p));
}
