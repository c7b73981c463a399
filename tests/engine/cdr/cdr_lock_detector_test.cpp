// The clock recovery's lock detector: its window rules fed by hand, and the loop's verdict on a
// flat input, on clean data and on data whose transitions wander too far to sample safely.
#include "engine/cdr/cdr_lock_detector.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/cdr/cdr_loop.hpp"

namespace {

// One window of 512 data events with `transitions` transitions at `distance` UI, votes
// alternating between +1 and -1 (or all `bias` when it is non-zero).
void FeedWindow(CdrLockDetector& d, int transitions, double distance, int bias = 0) {
    for (int i = 0; i < 512; ++i) {
        const bool t = i < transitions;
        const int vote = !t ? 0 : bias != 0 ? bias : (i % 2 ? 1 : -1);
        d.AddDataEvent(t, distance, vote);
    }
}

}  // namespace

TEST(CdrLockDetector, TwoPassingWindowsLockTwoFailingUnlockSparseWindowsKeepTheState) {
    CdrLockDetector d;
    EXPECT_FALSE(d.IsLocked());
    EXPECT_EQ(d.LockEvent(), -1);
    FeedWindow(d, 200, 0.1);
    EXPECT_FALSE(d.IsLocked());  // one good window is not enough
    FeedWindow(d, 200, -0.15);   // distances count by magnitude
    ASSERT_TRUE(d.IsLocked());
    EXPECT_EQ(d.LockEvent(), 1023);  // the last event of the second window

    // Windows with 31 transitions say nothing about the lock, however bad they look.
    for (int i = 0; i < 5; ++i) FeedWindow(d, 31, 0.5, 1);
    EXPECT_TRUE(d.IsLocked());
    // One failing window does not unlock; a good one in between restarts the count.
    FeedWindow(d, 100, 0.3);
    FeedWindow(d, 100, 0.1);
    FeedWindow(d, 100, 0.3);
    EXPECT_TRUE(d.IsLocked());
    EXPECT_EQ(d.LockEvent(), 1023);
    FeedWindow(d, 100, 0.3);
    EXPECT_FALSE(d.IsLocked());
    EXPECT_EQ(d.LockEvent(), -1);

    // Votes all one way fail even with the transitions on the edge sample; the distance rule
    // takes 0.2 UI on average.
    CdrLockDetector biased;
    FeedWindow(biased, 100, 0.0, 1);
    FeedWindow(biased, 100, 0.0, -1);
    EXPECT_FALSE(biased.IsLocked());
    for (auto [distance, locks] : {std::pair{0.19, true}, std::pair{0.21, false}}) {
        CdrLockDetector edge;
        FeedWindow(edge, 32, distance);
        FeedWindow(edge, 32, distance);
        EXPECT_EQ(edge.IsLocked(), locks) << distance;
    }
}

TEST(CdrLockDetector, TrackingNeedsBalancedVotesOnDataNotAClosedEye) {
    // Transitions spread 0.3 UI from the edge sample with balanced votes: the loop follows the
    // data (an eye still to be opened) but is not locked; a sparse window follows nothing.
    CdrLockDetector d;
    FeedWindow(d, 200, 0.3);
    EXPECT_TRUE(d.IsTracking());
    FeedWindow(d, 200, 0.3);
    EXPECT_FALSE(d.IsLocked());
    FeedWindow(d, 10, 0.0);
    EXPECT_FALSE(d.IsTracking());
    FeedWindow(d, 200, 0.1, 1);
    EXPECT_FALSE(d.IsTracking());
}

TEST(CdrLockDetector, VotesBalanceWithinHalfTheNonZeroVotes) {
    // 100 votes: 75 up and 25 down sum to 50, exactly half: passes; 76/24 sum to 52: fails.
    for (auto [up, expectLock] : {std::pair{75, true}, std::pair{76, false}}) {
        CdrLockDetector d;
        for (int w = 0; w < 2; ++w) {
            for (int i = 0; i < 512; ++i) {
                const int vote = i < up ? 1 : i < 100 ? -1 : 0;
                d.AddDataEvent(i < 100, 0.05, vote);
            }
        }
        EXPECT_EQ(d.IsLocked(), expectLock) << up;
    }
}

namespace {

constexpr double kSpb = 32;

// Runs a loop over `bits` of random data whose transitions are displaced by a uniform random
// amount of up to `wander` UI each (or no transitions at all when `flat`), and returns the
// first data event at which it reported lock (-1 if it never did) and whether it ends locked.
std::pair<long, bool> LockOn(long bits, double wander, bool flat) {
    CdrLoopSettings s;
    s.bitTime = 1e-10;
    s.sampleInterval = s.bitTime / kSpb;
    CdrLoop loop(s);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> shift(-wander, wander);
    long firstLock = -1;
    int level = 1;
    std::vector<double> edges;
    const long blockBits = 100;
    for (long b = 0; b < bits; b += blockBits) {
        TransitionList t;
        for (long k = b; k < b + blockBits && !flat; ++k) {
            const int next = static_cast<int>(rng() & 1u);
            if (next != level) {
                t.positions.push_back((k + 0.3 + shift(rng)) * kSpb);
                t.levels.push_back(level ? 0.5 : -0.5);
            }
            level = next;
        }
        loop.Run(t, (b + blockBits) * kSpb - 1, edges);
        if (firstLock < 0 && loop.IsLocked()) firstLock = loop.LockEvent();
    }
    return {firstLock, loop.IsLocked()};
}

}  // namespace

TEST(CdrLockDetector, TheLoopLocksOnCleanDataOnlyAndNeverOnAFlatInput) {
    const auto [flatLock, flatEnd] = LockOn(20000, 0.0, true);
    EXPECT_EQ(flatLock, -1);
    EXPECT_FALSE(flatEnd);

    // Clean data 0.3 bit off the clock's start: locked within the first 5000 bits, and stays.
    const auto [cleanLock, cleanEnd] = LockOn(20000, 0.0, false);
    EXPECT_GE(cleanLock, 1023);
    EXPECT_LT(cleanLock, 5000);
    EXPECT_TRUE(cleanEnd);

    // Transitions spread evenly over +-0.45 UI sit 0.225 UI from the edge sample on average:
    // the loop runs, but the data cannot be sampled safely.
    const auto [wideLock, wideEnd] = LockOn(20000, 0.45, false);
    EXPECT_EQ(wideLock, -1);
    EXPECT_FALSE(wideEnd);
}
