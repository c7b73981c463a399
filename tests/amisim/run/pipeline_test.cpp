// The time-domain loop on two threads against the same loop on one: every figure of the eye,
// the receiver's reports and the output range must be the same to the bit, and blocks must
// reach the receiver and the eye whole and in order.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "amisim/run/link_sim.hpp"
#include "amisim/run/ordered_worker.hpp"
#include "test_support.hpp"

using namespace amisim;
using amisim_test::FakeKit;

namespace {

LinkResult runWith(LinkConfig cfg, bool pipelined) {
    cfg.pipelineTd = pipelined;
    return runLink(cfg);
}

void expectSameTimeDomain(const LinkResult& a, const LinkResult& b) {
    ASSERT_TRUE(a.td && b.td);
    // exact comparisons: the pipeline must not change a single sample
    EXPECT_EQ(a.td->eyeHeight, b.td->eyeHeight);
    EXPECT_EQ(a.td->opening, b.td->opening);
    EXPECT_EQ(a.td->eyeWidth, b.td->eyeWidth);
    EXPECT_EQ(a.td->bestPhaseUi, b.td->bestPhaseUi);
    EXPECT_EQ(a.td->sampledBits, b.td->sampledBits);
    EXPECT_EQ(a.td->bitErrors, b.td->bitErrors);
    EXPECT_EQ(a.td->clockTimes, b.td->clockTimes);
    EXPECT_EQ(a.td->meanClockPeriod, b.td->meanClockPeriod);
    EXPECT_EQ(a.td->signalLevel, b.td->signalLevel);
    EXPECT_EQ(a.td->peakAbs, b.td->peakAbs);
    EXPECT_EQ(a.td->berCounted, b.td->berCounted);
    EXPECT_EQ(a.td->berExtrapolated, b.td->berExtrapolated);
    EXPECT_EQ(a.td->picture, b.td->picture);
    EXPECT_EQ(a.rx.lastParametersOut, b.rx.lastParametersOut);
    EXPECT_EQ(a.tx.lastParametersOut, b.tx.lastParametersOut);
    ASSERT_EQ(a.dfeTaps.size(), b.dfeTaps.size());
    for (std::size_t i = 0; i < a.dfeTaps.size(); ++i) {
        EXPECT_EQ(a.dfeTaps[i].bit, b.dfeTaps[i].bit);
        ASSERT_EQ(a.dfeTaps[i].taps.size(), b.dfeTaps[i].taps.size());
        for (std::size_t t = 0; t < a.dfeTaps[i].taps.size(); ++t)
            EXPECT_EQ(a.dfeTaps[i].taps[t].weight, b.dfeTaps[i].taps[t].weight);
    }
    ASSERT_EQ(a.rxOutputRange.has_value(), b.rxOutputRange.has_value());
    if (a.rxOutputRange) {
        EXPECT_EQ(a.rxOutputRange->low, b.rxOutputRange->low);
        EXPECT_EQ(a.rxOutputRange->high, b.rxOutputRange->high);
    }
    EXPECT_EQ(a.rxOutputLimited, b.rxOutputLimited);
    EXPECT_EQ(a.warnings, b.warnings);
    EXPECT_EQ(a.rx.console, b.rx.console);
    EXPECT_EQ(a.tx.console, b.tx.console);
}

}  // namespace

// Many short blocks with the models' jitter, receiver clock times and DFE tap reports:
// a block lost, repeated or swapped would show as bit errors, a wrong clock count or taps
// reported at the wrong bit.
TEST(Pipeline, ManySmallBlocksGiveTheSerialFiguresAndArriveInOrder) {
    FakeKit k;
    k.cfg.bits = 9000;
    k.cfg.blockBits = 37;  // a last block shorter than the others
    k.cfg.ignoreBits = 100;
    k.cfg.rxOverrides = {{"clock", "1"}, {"taps", "1"}, {"limit", "0.3"}};
    const LinkResult serial = runWith(k.cfg, false);
    const LinkResult pipelined = runWith(k.cfg, true);
    expectSameTimeDomain(serial, pipelined);

    ASSERT_TRUE(pipelined.td);
    EXPECT_EQ(pipelined.td->bitErrors, 0u);
    EXPECT_TRUE(pipelined.td->usedClockTimes);
    // one clock time per bit of the whole run, whatever the block boundaries
    EXPECT_NEAR(static_cast<double>(pipelined.td->clockTimes), 9000, 2);
    const std::size_t blocks = (9000 + 36) / 37;
    ASSERT_EQ(pipelined.dfeTaps.size(), blocks);
    for (std::size_t i = 0; i < blocks; ++i)
        EXPECT_EQ(pipelined.dfeTaps[i].bit, std::min<std::uint64_t>((i + 1) * 37, 9000));
    ASSERT_TRUE(pipelined.rxOutputRange);
    EXPECT_NEAR(pipelined.rxOutputRange->high, 0.3, 1e-12);
}

// What the receiver prints goes to its own report, never to the transmitter's, though the
// probe instance prints the same lines alongside the loop.
TEST(Pipeline, ConsoleLinesStayWithTheirModel) {
    FakeKit k;
    k.cfg.rxOverrides = {{"warn", "1"}};
    const LinkResult serial = runWith(k.cfg, false);
    const LinkResult pipelined = runWith(k.cfg, true);
    expectSameTimeDomain(serial, pipelined);
    EXPECT_EQ(pipelined.rx.console, "fake console line\n");
    EXPECT_EQ(pipelined.tx.console, "");
}

// The kit's own models with their adaptation: the probe's second receiver runs alongside the
// loop and must leave the real one's figures untouched.
TEST(Pipeline, KitLinkGivesTheSerialFigures) {
    LinkConfig cfg;
    cfg.kitDir = KIT_DIR;
    cfg.files = locateKit(cfg.kitDir, {});
    cfg.runStat = false;
    cfg.bits = 20000;
    cfg.ignoreBits = 2000;
    cfg.frequencyResponse = false;
    cfg.quiet = true;
    // the CTLE set by hand keeps the test short; the DFE still adapts in both instances
    cfg.rxOverrides = {{"ctle_mode", "0"}};
    const LinkResult serial = runWith(cfg, false);
    const LinkResult pipelined = runWith(cfg, true);
    expectSameTimeDomain(serial, pipelined);
    EXPECT_EQ(serial.rx.message, pipelined.rx.message);
    EXPECT_TRUE(pipelined.rxOutputRange.has_value());
}

TEST(Pipeline, AFailingStageStopsTheLoopWithItsError) {
    // a failing task: waiting for it or any later one rethrows, and later tasks never run
    OrderedWorker worker(true);
    std::atomic<int> ran{0};
    worker.submit([&] { ++ran; });
    const std::uint64_t failing = worker.submit([] { throw std::runtime_error("stage failed"); });
    const std::uint64_t after = worker.submit([&] { ran += 10; });
    EXPECT_THROW(worker.waitFor(failing), std::runtime_error);
    EXPECT_THROW(worker.waitFor(after), std::runtime_error);
    EXPECT_THROW(worker.submit([] {}), std::runtime_error);
    EXPECT_EQ(ran.load(), 1);

    // the caller's own failure (a model call) drops the queued tasks instead of waiting
    std::atomic<int> started{0};
    {
        OrderedWorker abandoned(true);
        std::atomic<bool> release{false};
        abandoned.submit([&] {
            ++started;
            while (!release) std::this_thread::yield();
        });
        for (int i = 0; i < 100; ++i) abandoned.submit([&] { ++started; });
        while (started == 0) std::this_thread::yield();
        release = true;
    }
    // the thread is gone: nothing runs once the worker is destroyed
    const int afterwards = started.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(started.load(), afterwards);
}
