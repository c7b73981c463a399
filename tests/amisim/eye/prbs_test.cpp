#include "amisim/eye/prbs.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

using amisim::Prbs;

// A maximal-length sequence repeats after 2^n - 1 bits, not before, and holds 2^(n-1) ones.
TEST(Prbs, PeriodAndBalance) {
    for (int order : {7, 15, 23}) {
        Prbs p(order);
        const std::uint64_t period = (std::uint64_t{1} << order) - 1;
        EXPECT_EQ(p.period(), period);
        std::vector<std::uint8_t> first(64);
        std::uint64_t ones = 0;
        for (std::uint64_t i = 0; i < period; ++i) {
            const int b = p.next();
            ones += static_cast<std::uint64_t>(b);
            if (i < first.size()) first[i] = static_cast<std::uint8_t>(b);
        }
        EXPECT_EQ(ones, std::uint64_t{1} << (order - 1)) << order;
        for (std::size_t i = 0; i < first.size(); ++i)
            ASSERT_EQ(p.next(), first[i]) << "order " << order << " bit " << i;
    }
}

TEST(Prbs, NoShorterPeriodForPrbs7) {
    Prbs p(7);
    std::vector<int> bits(254);
    for (int& b : bits) b = p.next();
    for (int shift = 1; shift < 127; ++shift) {
        bool same = true;
        for (int i = 0; i < 127 && same; ++i)
            same = bits[static_cast<std::size_t>(i)] == bits[static_cast<std::size_t>(i + shift)];
        EXPECT_FALSE(same) << shift;
    }
}

TEST(Prbs, RejectsOtherOrders) {
    EXPECT_THROW(Prbs(9), std::invalid_argument);
    EXPECT_THROW(Prbs(0), std::invalid_argument);
}
