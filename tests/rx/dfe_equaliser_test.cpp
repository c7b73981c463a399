// The DFE on its own: the adaptive filter, the tap codes, adaptation on waveforms with known
// post-cursor interference, fixed taps, bad samples, memory over long runs and clock times.
#include "rx/dfe_equaliser.hpp"

#include <gtest/gtest.h>
#include <malloc.h>

#include <cmath>
#include <limits>

#include "dfe_test_support.hpp"
#include "rx/clock_times.hpp"
#include "rx/dfe_taps.hpp"

namespace {

constexpr double kBitTime = 1e-10;
constexpr int kSpb = 32;
constexpr double kDt = kBitTime / kSpb;

DfeLimits Bw4Limits() {
    DfeLimits limits;
    const double fullScale[11] = {0.529, 0.635, 0.635, 0.315, 0.315, 0.155,
                                  0.155, 0.315, 0.315, 0.315, 0.315};
    for (int k = 0; k < 11; ++k) {
        const double half = kDfeTapRanges[k] / 2;
        limits.upperLimit.push_back(fullScale[k]);
        limits.lowerLimit.push_back(k == 0 ? 0.0 : -fullScale[k]);
        limits.codeSpan.push_back(k == 0 ? half : 2 * half);
        limits.oneSided.push_back(k == 0);
    }
    return limits;
}

DfeSetup SetupFor(int mode, int cdrSel) {
    DfeSetup s;
    s.sampleInterval = kDt;
    s.bitTime = kBitTime;
    s.limits = Bw4Limits();
    s.codes.assign(11, 0);
    s.initialWeights.assign(11, 0.0);
    s.adaptive = mode != 1;
    s.cdrSel = cdrSel;
    return s;
}

struct Outcome {
    std::vector<double> output;
    std::vector<double> clockTimes;
    std::size_t maxPerBlock = 0;
};

Outcome RunBlocks(DecisionFeedbackEqualiser& dfe, std::vector<double> wave, std::size_t block) {
    Outcome o;
    for (std::size_t start = 0; start < wave.size(); start += block) {
        const std::size_t n = std::min(block, wave.size() - start);
        const DFE::BlockResult r = dfe.Process(wave.data() + start, static_cast<std::int64_t>(n),
                                               static_cast<double>(start) * kDt);
        EXPECT_LE(static_cast<std::int64_t>(r.clockTimes.size()),
                  v10kx_ami_rx::ClockTimeCapacity(static_cast<std::int64_t>(n), kSpb));
        o.clockTimes.insert(o.clockTimes.end(), r.clockTimes.begin(), r.clockTimes.end());
        o.maxPerBlock = std::max(o.maxPerBlock, r.clockTimes.size());
    }
    o.output = std::move(wave);
    return o;
}

// Wrong decisions among bits [from, to) when the output is sampled at the bit centres (where
// the fixed clock samples).
int Errors(const std::vector<double>& output, const std::vector<int>& bits, std::size_t from,
           std::size_t to) {
    int errors = 0;
    for (std::size_t k = from; k < to; ++k) {
        const double v = output[k * kSpb + kSpb / 2];
        errors += (v > 0) != (bits[k] == 1);
    }
    return errors;
}

}  // namespace

TEST(AdaptFilt, WeightsMoveByTheMeanGradientOfEachApply) {
    AdaptFilt f(0.2, 2, {1.0, 1.0}, {-1.0, 0.0});
    for (int i = 0; i < 2; ++i) f.Shift(1.0);
    // Error 0.5 against level 1 on both taps: each update adds 0.5 * 0.2 * 1 = 0.1 to the
    // gradient, and every apply moves by the mean, 0.1, however many applies came before.
    for (int apply = 1; apply <= 3; ++apply) {
        for (int i = 1; i <= 50; ++i) f.Update(1.0, 0.5, i == 50, 1.0);
        EXPECT_NEAR(f.Weights()[0], 0.1 * apply, 1e-12);
        EXPECT_EQ(f.PendingUpdates(), 0u);
    }
    // A gain below 1 counts as 1; a gain of 2 doubles the step.
    for (int i = 1; i <= 10; ++i) f.Update(1.0, 0.5, i == 10, 0.25);
    EXPECT_NEAR(f.Weights()[0], 0.4, 1e-12);
    for (int i = 1; i <= 10; ++i) f.Update(1.0, 0.5, i == 10, 2.0);
    EXPECT_NEAR(f.Weights()[0], 0.6, 1e-12);
    // The output is the weighted sum of the last decided levels, newest on tap 1.
    f.Shift(-1.0);
    EXPECT_NEAR(f.Output(), 0.6 * -1.0 + 0.6 * 1.0, 1e-12);
}

TEST(AdaptFilt, LimitsHoldAndOverflowedGradientsAreDropped) {
    AdaptFilt f(0.2, 2, {0.5, 0.5}, {0.0, -0.5});
    f.Shift(1.0);
    f.Shift(1.0);
    f.Update(1.0, -100.0, true, 1.0);
    EXPECT_EQ(f.Weights()[0], 0.0);  // one-sided: no negative weight
    EXPECT_EQ(f.Weights()[1], -0.5);
    f.Update(1.0, std::numeric_limits<double>::max(), false, 75.0);
    f.Update(1.0, std::numeric_limits<double>::max(), true, 75.0);
    EXPECT_EQ(f.Weights()[0], 0.0);
    EXPECT_EQ(f.Weights()[1], -0.5);
    f.Update(1.0, 1.0, true, 1.0);
    EXPECT_NEAR(f.Weights()[0], 0.2, 1e-12);
}

TEST(DfeTaps, CodesAndWeightsBothWays) {
    EXPECT_DOUBLE_EQ(DfeCodeToWeight(10, 0.635, -0.635, 254), 10 * 0.635 / 127);
    // A one-sided tap (0 ... 0.529 V over 127 codes) steps by 0.529 / 127, as its code is read
    // back; a side that reaches further makes every step longer.
    EXPECT_DOUBLE_EQ(DfeCodeToWeight(40, 0.529, 0.0, 127), 40 * 0.529 / 127);
    EXPECT_EQ(DfeWeightToCode(DfeCodeToWeight(40, 0.529, 0.0, 127), 0.529, 0.0, 127, true, 1.0),
              40);
    EXPECT_DOUBLE_EQ(DfeCodeToWeight(-31, 0.155, -0.155, 62), -0.155);
    for (int code : {-127, -85, -1, 0, 1, 63, 127}) {
        for (double scale : {1.0, 0.3 / 0.17}) {
            const double w = DfeCodeToWeight(code, 0.9525, -0.635, 254, scale);
            EXPECT_EQ(DfeWeightToCode(w, 0.9525, -0.635, 254, false, scale), code);
        }
    }
    // Steps of 1.27 / 254 = 5 mV, halves rounded away from zero.
    EXPECT_EQ(DfeWeightToCode(0.05, 0.635, -0.635, 254, false, 1.0), 10);
    EXPECT_EQ(DfeWeightToCode(0.05, 0.635, -0.635, 254, false, 2.0), 5);
    EXPECT_EQ(DfeWeightToCode(0.0125, 0.635, -0.635, 254, false, 1.0), 3);
    EXPECT_EQ(DfeWeightToCode(-0.0125, 0.635, -0.635, 254, false, 1.0), -3);
    EXPECT_EQ(DfeWeightToCode(-0.1, 0.529, 0.0, 127, true, 1.0), 0);
    EXPECT_EQ(DfeWeightToCode(0.1, 0.0, 0.0, 127, false, 1.0), 0);  // no step: no code
    const std::vector<double> row{-0.3, -0.2, -0.1, 0.0, 0.1, 0.2, 0.3};
    EXPECT_EQ(DfeWeightToCodeByTable(0.19, row, false, 1.0), 2);
    EXPECT_EQ(DfeWeightToCodeByTable(0.15, row, false, 1.0), 1);  // tie: the first entry
    EXPECT_EQ(DfeWeightToCodeByTable(0.1, row, false, 0.5), 2);
    EXPECT_EQ(DfeWeightToCodeByTable(-0.25, row, false, 1.0), -3);
    EXPECT_EQ(DfeWeightToCodeByTable(-0.25, row, true, 1.0), 0);
}

TEST(DecisionFeedback, AdaptiveTapsLearnThePostCursors) {
    // Pulse: 0.3 V at the cursor, 0.12 V and 0.06 V one and two bits later. The data level
    // settles at the mean |sample| of 0.3 V, so the taps should settle at 0.12 / 0.3 and
    // 0.06 / 0.3, and the others near 0.
    const std::vector<int> bits = dfetest::RandomBits(40000, 3);
    DecisionFeedbackEqualiser dfe;
    ASSERT_EQ(dfe.Setup(SetupFor(2, 1)), 0);
    const Outcome o = RunBlocks(dfe, dfetest::IsiWave(bits, {0.3, 0.12, 0.06}, kSpb), 4096);
    EXPECT_DOUBLE_EQ(dfe.DataLevel(), 0.3);
    std::vector<double> w;
    std::vector<int> codes;
    dfe.CurrentTaps(w, codes);
    ASSERT_EQ(w.size(), 11u);
    EXPECT_NEAR(w[0], 0.4, 0.02);
    EXPECT_NEAR(w[1], 0.2, 0.02);
    for (std::size_t k = 2; k < w.size(); ++k) EXPECT_NEAR(w[k], 0.0, 0.02) << k;
    // The peak |sample| of 0.48 V sets the code scale: 0.4 V / (0.529 / 127 * 0.3 / 0.48).
    EXPECT_NEAR(codes[0], std::round(w[0] / (0.529 / 127 * 0.3 / 0.48)), 0.5);
    // After feedback the bit centres sit at +-0.3 V.
    for (std::size_t k = 30000; k < 30100; ++k) {
        EXPECT_NEAR(std::fabs(o.output[k * kSpb + kSpb / 2]), 0.3, 0.02) << k;
    }
}

TEST(DecisionFeedback, AdaptationOpensAnEyeClosedByInterference) {
    // 0.3 - 0.2 - 0.15 < 0: without feedback a quarter of the bits are decided wrongly.
    const std::vector<int> bits = dfetest::RandomBits(60000, 5);
    const std::vector<double> wave = dfetest::IsiWave(bits, {0.3, 0.2, 0.15}, kSpb);
    DecisionFeedbackEqualiser off;
    DfeSetup clockOnly = SetupFor(0, 1);
    clockOnly.active = false;
    ASSERT_EQ(off.Setup(clockOnly), 0);
    const Outcome before = RunBlocks(off, wave, 8192);
    EXPECT_GT(Errors(before.output, bits, 40000, 60000), 4000);

    DecisionFeedbackEqualiser dfe;
    ASSERT_EQ(dfe.Setup(SetupFor(2, 1)), 0);
    const Outcome after = RunBlocks(dfe, wave, 8192);
    EXPECT_EQ(Errors(after.output, bits, 40000, 60000), 0);
    std::vector<double> w;
    std::vector<int> codes;
    dfe.CurrentTaps(w, codes);
    EXPECT_GT(w[0], 0.4);
    EXPECT_GT(w[1], 0.3);
}

TEST(DecisionFeedback, FixedTapsFollowTheirCodesScaledByThePeak) {
    // Clean +-0.15 V bits: the peak is 0.15 V, so each weight is its code's step times 2.
    DfeSetup s = SetupFor(1, 1);
    s.codes = {40, 10, -127, 0, 0, -31, 0, 0, 0, 0, 0};
    for (int k = 0; k < 11; ++k) {
        s.initialWeights[k] = DfeCodeToWeight(s.codes[k], s.limits.upperLimit[k],
                                              s.limits.lowerLimit[k], s.limits.codeSpan[k]);
    }
    DecisionFeedbackEqualiser dfe;
    ASSERT_EQ(dfe.Setup(s), 0);
    std::vector<double> w;
    std::vector<int> codes;
    dfe.CurrentTaps(w, codes);
    EXPECT_DOUBLE_EQ(w[0], 40 * 0.529 / 127);  // as set up, until the peak is known
    EXPECT_DOUBLE_EQ(w[1], 10 * 0.635 / 127);
    EXPECT_EQ(codes[1], 10);

    const std::vector<int> bits = dfetest::RandomBits(6000, 9);
    RunBlocks(dfe, dfetest::IsiWave(bits, {0.15}, kSpb), 1000);
    dfe.CurrentTaps(w, codes);
    EXPECT_NEAR(w[0], 40 * 0.529 / 127 * 2, 1e-12);
    EXPECT_NEAR(w[1], 10 * 0.005 * 2, 1e-12);
    EXPECT_DOUBLE_EQ(w[2], -0.635);    // -127 steps of 10 mV are beyond the limit
    EXPECT_NEAR(w[5], -0.155, 1e-12);  // -31 steps of 0.155 / 31 * 2 V, limited
    EXPECT_EQ(codes[0], 40);
    EXPECT_EQ(codes[1], 10);
    // Fixed taps report the codes set, also where their weights run at a limit.
    EXPECT_EQ(codes[2], -127);
    EXPECT_EQ(codes[5], -31);
}

TEST(DecisionFeedback, BadSamplesDoNotPoisonTheLoopOrTheTaps) {
    // The same waveform with and without bad samples: after the NaN and infinite stretches the
    // taps and the clock come back to where the clean run has them.
    const std::vector<int> bits = dfetest::RandomBits(48000, 11);
    const std::vector<double> clean = dfetest::IsiWave(bits, {0.3, 0.12, 0.06}, kSpb, 1.0, 7.0);
    std::vector<double> wave = clean;
    for (std::size_t i = 20000 * kSpb; i < 20128 * kSpb; ++i) {
        wave[i] = std::numeric_limits<double>::quiet_NaN();
    }
    for (std::size_t i = 21000 * kSpb; i < 21004 * kSpb; ++i) {
        wave[i] = (i % 2 ? 1 : -1) * std::numeric_limits<double>::infinity();
    }
    DecisionFeedbackEqualiser reference, dfe;
    ASSERT_EQ(reference.Setup(SetupFor(2, 0)), 0);
    ASSERT_EQ(dfe.Setup(SetupFor(2, 0)), 0);
    const Outcome good = RunBlocks(reference, clean, 4096);
    const Outcome o = RunBlocks(dfe, wave, 4096);
    std::vector<double> w, expected;
    std::vector<int> codes;
    dfe.CurrentTaps(w, codes);
    reference.CurrentTaps(expected, codes);
    ASSERT_EQ(w.size(), expected.size());
    for (std::size_t k = 0; k < w.size(); ++k) EXPECT_NEAR(w[k], expected[k], 0.01) << k;
    EXPECT_GT(w[0], 0.2);
    // The clock went on: one time per bit, increasing, and sampling the output half a bit
    // after each time finds every late bit.
    EXPECT_NEAR(static_cast<double>(o.clockTimes.size()), good.clockTimes.size(), 2);
    for (std::size_t i = 1; i < o.clockTimes.size(); ++i) {
        ASSERT_GT(o.clockTimes[i], o.clockTimes[i - 1]);
    }
    EXPECT_NEAR(o.clockTimes.back(), good.clockTimes.back(), kDt);
    int errors = 0;
    for (double t : o.clockTimes) {
        const double at = (t + kBitTime / 2) / kDt;
        const auto i = static_cast<std::size_t>(std::lround(at));
        if (i < 40000 * kSpb || i >= o.output.size()) continue;
        const auto bit = static_cast<std::size_t>((at - 7.0) / kSpb);
        errors += (o.output[i] > 0) != (bits[bit] == 1);
    }
    EXPECT_EQ(errors, 0);
}

TEST(DecisionFeedback, ClockTimesLeadTheDataInstantByHalfABitAndTheOffset) {
    // Clean bits with transitions at 5.3 + 32 k samples. Once locked the data instants sit
    // half a bit later, and each clock time is the instant - (2.5 + 32) / 2 + 1 samples: 0.25
    // of a sample before a transition.
    const std::vector<int> bits = dfetest::RandomBits(20000, 13);
    DecisionFeedbackEqualiser dfe;
    DfeSetup s = SetupFor(0, 0);
    s.active = false;
    ASSERT_EQ(dfe.Setup(s), 0);
    const Outcome o = RunBlocks(dfe, dfetest::IsiWave(bits, {0.3}, kSpb, 1.0, 5.3), 2048);
    EXPECT_EQ(o.output, dfetest::IsiWave(bits, {0.3}, kSpb, 1.0, 5.3));  // passes unchanged
    ASSERT_GT(o.clockTimes.size(), 19990u);
    for (std::size_t i = 10000; i < o.clockTimes.size(); ++i) {
        const double samples = o.clockTimes[i] / kDt - 5.3;
        EXPECT_NEAR(samples - kSpb * std::round(samples / kSpb), -0.25, 0.05) << i;
    }
}

TEST(DecisionFeedback, ClockTimesNeverExceedTheBufferWhateverTheBlockLength) {
    const std::vector<int> bits = dfetest::RandomBits(33000, 17);
    const std::vector<double> wave = dfetest::IsiWave(bits, {0.3}, kSpb, 1.0, 3.0);
    const std::vector<double> start(wave.begin(), wave.begin() + 3000 * kSpb);
    for (std::size_t block : {1u, 31u, 32u, 33u, 1000u, 1u << 20}) {
        // A 2^20-sample block needs the long wave; the short blocks make do with 3000 bits.
        const std::vector<double>& input = block == (1u << 20) ? wave : start;
        DecisionFeedbackEqualiser dfe;
        ASSERT_EQ(dfe.Setup(SetupFor(2, 0)), 0);
        const Outcome o = RunBlocks(dfe, input, block);  // checks each block's count
        for (std::size_t i = 1; i < o.clockTimes.size(); ++i) {
            ASSERT_GT(o.clockTimes[i], o.clockTimes[i - 1] + kBitTime / 2) << block;
        }
        const double inputBits = static_cast<double>(input.size()) / kSpb;
        if (block == 1) {
            EXPECT_TRUE(o.clockTimes.empty());
        } else if (block >= 32) {
            EXPECT_GT(static_cast<double>(o.clockTimes.size()), 0.9 * inputBits) << block;
        }
        EXPECT_LE(static_cast<double>(o.clockTimes.size()), inputBits) << block;
    }
}

TEST(DecisionFeedback, MemoryStaysFlatWithoutDumps) {
    const std::vector<int> bits = dfetest::RandomBits(4096, 19);
    const std::vector<double> wave = dfetest::IsiWave(bits, {0.3, 0.1}, 4);
    DfeSetup s = SetupFor(2, 0);
    s.sampleInterval = kBitTime / 4;
    DecisionFeedbackEqualiser dfe;
    ASSERT_EQ(dfe.Setup(s), 0);
    std::vector<double> block;
    auto run = [&](int blocks) {
        for (int b = 0; b < blocks; ++b) {
            block = wave;
            dfe.Process(block.data(), static_cast<std::int64_t>(block.size()), 0.0);
        }
    };
    run(30);  // past the estimation window, every buffer at its working size
    const std::size_t before = mallinfo2().uordblks;
    run(300);  // 1.2 million more bits
    const std::size_t after = mallinfo2().uordblks;
    EXPECT_EQ(dfe.DecidedBits(), 330u * 4096u);
    EXPECT_LT(after, before + 64 * 1024) << "grew by " << after - before << " bytes";

    // With the records on, a block returns one tap record per bit and one period per clock.
    dfe.SetRecording(true, true);
    block = wave;
    const DFE::BlockResult r =
        dfe.Process(block.data(), static_cast<std::int64_t>(block.size()), 0);
    EXPECT_NEAR(static_cast<double>(r.tapHistory.size()), 4096, 1);
    EXPECT_EQ(r.tapHistory.front().size(), 11u);
    EXPECT_NEAR(static_cast<double>(r.clockPeriods.size()), 4096, 1);
    EXPECT_EQ(r.lockFlags.size(), r.clockPeriods.size());
}

TEST(DecisionFeedback, SetupFailuresLeaveTheDfeOffAndTheClockWhereItCanRun) {
    DecisionFeedbackEqualiser noMap;
    DfeSetup s = SetupFor(2, 0);
    s.limits = DfeLimits();
    EXPECT_EQ(noMap.Setup(s), -1);
    EXPECT_FALSE(noMap.IsActive());
    const std::vector<int> bits = dfetest::RandomBits(2000, 23);
    const std::vector<double> wave = dfetest::IsiWave(bits, {0.3}, kSpb);
    const Outcome o = RunBlocks(noMap, wave, 4096);
    EXPECT_EQ(o.output, wave);
    EXPECT_GT(o.clockTimes.size(), 1900u);

    for (double bitTime : {0.0, -1e-10, kDt / 2, std::numeric_limits<double>::infinity()}) {
        DecisionFeedbackEqualiser bad;
        s = SetupFor(2, 0);
        s.bitTime = bitTime;
        EXPECT_EQ(bad.Setup(s), -1) << bitTime;
        const Outcome none = RunBlocks(bad, wave, 4096);
        EXPECT_EQ(none.output, wave);
        EXPECT_TRUE(none.clockTimes.empty());
    }
}

TEST(DecisionFeedback, LearningWaitsForLockButALinkLockedEarlyRunsAsBefore) {
    // The taps learn from bit 5000 on. A link whose clock locks before then runs the same
    // whether learning waits for the lock detector or only for the first clock edge; a flat
    // stretch at the start (no transitions, no lock) holds the learning back.
    const std::vector<int> bits = dfetest::RandomBits(12000, 23);
    const std::vector<double> wave = dfetest::IsiWave(bits, {0.3, 0.06, 0.03}, kSpb, 1.0, 6.0);
    std::vector<std::vector<double>> outputs;
    for (bool waitForLock : {true, false}) {
        DfeSetup s = SetupFor(2, 0);
        s.cdrBandwidth = 2;  // the wide loop, settled well before bit 5000
        s.learnWhenLocked = waitForLock;
        DecisionFeedbackEqualiser dfe;
        ASSERT_EQ(dfe.Setup(s), 0);
        outputs.push_back(RunBlocks(dfe, wave, 4096).output);
        EXPECT_GE(dfe.LockBit(), 1023);
        EXPECT_LT(dfe.LockBit(), 5000);
        std::vector<double> w;
        std::vector<int> codes;
        dfe.CurrentTaps(w, codes);
        EXPECT_GT(w[0], 0.15);  // 0.06 V over a level near 0.3 V
    }
    EXPECT_EQ(outputs[0], outputs[1]);

    // 8000 bits without a transition, then 600 bits of data: too few for two windows, so
    // nothing is learnt while unlocked (a DFE that learns from the first edge has moved).
    std::vector<double> late(8000 * kSpb, 0.3);
    late.insert(late.end(), wave.begin(), wave.begin() + 600 * kSpb);
    for (bool waitForLock : {true, false}) {
        DfeSetup s = SetupFor(2, 0);
        s.learnWhenLocked = waitForLock;
        DecisionFeedbackEqualiser dfe;
        ASSERT_EQ(dfe.Setup(s), 0);
        RunBlocks(dfe, late, 4096);
        EXPECT_EQ(dfe.LockBit(), -1);
        std::vector<double> w;
        std::vector<int> codes;
        dfe.CurrentTaps(w, codes);
        if (waitForLock) {
            EXPECT_EQ(w[0], 0.0);
        } else {
            EXPECT_GT(w[0], 0.0);
        }
    }
}
