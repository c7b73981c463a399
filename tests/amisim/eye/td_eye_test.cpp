#include "amisim/eye/td_eye.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "amisim/eye/prbs.hpp"

using namespace amisim;

namespace {
constexpr int kSpb = 32;
constexpr double kDt = 1e-12;
constexpr double kBit = kSpb * kDt;

std::vector<bool> prbsBits(std::size_t n) {
    Prbs p(7);
    std::vector<bool> b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = p.next() != 0;
    return b;
}

// Held levels 0.4 * b_k + 0.1 * b_(k-1) (b as +-1), delayed by `delayBits`.
std::vector<double> waveform(const std::vector<bool>& bits, int delayBits) {
    std::vector<double> w(bits.size() * kSpb, 0.0);
    for (std::size_t k = 0; k < bits.size(); ++k) {
        const long src = static_cast<long>(k) - delayBits;
        if (src < 1) continue;
        const double v = 0.4 * (bits[static_cast<std::size_t>(src)] ? 1 : -1) +
                         0.1 * (bits[static_cast<std::size_t>(src - 1)] ? 1 : -1);
        for (int i = 0; i < kSpb; ++i) w[k * kSpb + static_cast<std::size_t>(i)] = v;
    }
    return w;
}

TdEyeOptions options() {
    TdEyeOptions o;
    o.samplesPerBit = kSpb;
    o.sampleInterval = kDt;
    o.mainIndex = 15;
    o.ignoreBits = 100;
    return o;
}

// Feeds the waveform in uneven blocks, with clock edges one bit apart when asked.
TdEyeResult feed(const std::vector<bool>& bits, const std::vector<double>& w, bool clocks,
                 const TdEyeOptions& o = options()) {
    TdEye eye(bits, o);
    std::size_t pos = 0, len = 300;
    while (pos < w.size()) {
        const std::size_t n = std::min(len, w.size() - pos);
        std::vector<double> block(w.begin() + static_cast<long>(pos),
                                  w.begin() + static_cast<long>(pos + n));
        std::vector<double> ct;
        if (clocks)
            for (std::size_t k = (pos + kSpb - 1) / kSpb; k * kSpb < pos + n; ++k)
                ct.push_back(static_cast<double>(k) * kBit);
        eye.addBlock(block, ct);
        pos += n;
        len = len == 300 ? 777 : 300;
    }
    return eye.finish();
}
}  // namespace

TEST(TdEye, BestPhaseMeasuresTheInnerOpening) {
    auto bits = prbsBits(3000);
    TdEyeResult r = feed(bits, waveform(bits, 0), false);
    EXPECT_FALSE(r.usedClockTimes);
    EXPECT_NEAR(r.eyeHeight, 2 * (0.4 - 0.1), 1e-12);
    EXPECT_NEAR(r.eyeWidth, 1.0, 1.5 / kSpb);
    EXPECT_EQ(r.bitErrors, 0u);
    // every bit after the ignored ones whose two unit intervals lie within the waveform
    EXPECT_NEAR(static_cast<double>(r.sampledBits), 3000 - 100, 2);
    // the mean of v * b at the sampling point is the main cursor: the 0.1 V cursor averages out
    EXPECT_NEAR(r.signalLevel, 0.4, 0.01);
    EXPECT_NEAR(r.peakAbs, 0.5, 1e-12);
    EXPECT_GT(r.pictureColumns, 0);
    // a latch that needs 50 mV either side takes 100 mV off the height
    TdEyeOptions o = options();
    o.sensitivity = 0.05;
    EXPECT_NEAR(feed(bits, waveform(bits, 0), false, o).eyeHeight, 0.5, 1e-12);
}

TEST(TdEye, ClockTimesAreUsedAndAOneBitLatencyIsFound) {
    auto bits = prbsBits(3000);
    TdEyeResult r = feed(bits, waveform(bits, 0), true);
    EXPECT_TRUE(r.usedClockTimes);
    EXPECT_NEAR(r.eyeHeight, 0.6, 1e-12);
    EXPECT_NEAR(r.eyeWidth, 1.0, 1.5 / kSpb);
    EXPECT_NEAR(r.meanClockPeriod, kBit, 1e-15);
    EXPECT_EQ(r.bitShift, 0);
    r = feed(bits, waveform(bits, 1), true);
    EXPECT_EQ(r.bitShift, -1);
    EXPECT_NEAR(r.eyeHeight, 0.6, 1e-12);
    EXPECT_EQ(r.bitErrors, 0u);
}

TEST(TdEye, ReceiverDutyCycleJitterNarrowsTheEyeByItsPeakToPeak) {
    // even bits sampled a quarter UI late, odd bits a quarter UI early: the eye of held
    // levels stays open over 1 - 2 * 0.25 UI
    auto bits = prbsBits(3000);
    TdEyeOptions o = options();
    o.jitter.dcd = 0.25 * kBit;
    TdEyeResult r = feed(bits, waveform(bits, 0), false, o);
    EXPECT_NEAR(r.eyeWidth, 0.5, 1.5 / kSpb);
    EXPECT_NEAR(r.eyeHeight, 0.6, 1e-12);
}

TEST(TdEye, ExtrapolatedBathtubFollowsGaussianNoise) {
    // +-0.3 V levels with Gaussian noise of 0.06 V rms: at the sampling point the error ratio
    // is Q(0.3 / 0.06) = Q(5) = 2.9e-7, far below what 6000 bits can count
    auto bits = prbsBits(6000);
    std::vector<double> w(bits.size() * kSpb);
    std::uint64_t state = 12345;
    auto gauss = [&] {
        auto u = [&] {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            return (static_cast<double>(state >> 11) + 0.5) / 9007199254740992.0;
        };
        return std::sqrt(-2 * std::log(u())) * std::cos(2 * M_PI * u());
    };
    for (std::size_t k = 0; k < bits.size(); ++k) {
        const double v = (bits[k] ? 0.3 : -0.3) + 0.06 * gauss();
        for (int i = 0; i < kSpb; ++i) w[k * kSpb + static_cast<std::size_t>(i)] = v;
    }
    TdEyeOptions o = options();
    o.levelRange = 0.8;
    const TdEyeResult r = feed(bits, w, false, o);
    const std::size_t centre = static_cast<std::size_t>(kSpb);  // phase 0
    ASSERT_NEAR(r.phaseUi[centre], 0.0, 1e-12);
    EXPECT_EQ(r.berCounted[centre], 0.0);
    const double hand = 0.5 * std::erfc(5 / std::sqrt(2.0));
    EXPECT_NEAR(std::log10(r.berExtrapolated[centre]), std::log10(hand), 0.7);
}

TEST(TdEye, ClosedEyeReportsZeroHeight) {
    auto bits = prbsBits(3000);
    std::vector<double> w = waveform(bits, 0);
    for (std::size_t i = 0; i < w.size(); i += 97) w[i] = -w[i];  // scattered wrong samples
    TdEyeResult r = feed(bits, w, false);
    EXPECT_EQ(r.eyeHeight, 0.0);
    EXPECT_LT(r.opening, 0.0);
}

namespace {
// The first "1" at or after bit `from`.
std::size_t firstOne(const std::vector<bool>& bits, std::size_t from) {
    while (!bits[from]) ++from;
    return from;
}

void holdBit(std::vector<double>& w, std::size_t k, double v) {
    for (int i = 0; i < kSpb; ++i) w[k * kSpb + static_cast<std::size_t>(i)] = v;
}
}  // namespace

TEST(TdEye, ABitErrorClosesTheEyeEvenWhereTheLevelsStillLieApart) {
    // one late "1" held at -0.1 V: the lowest "1" still lies 0.2 V above the highest "0"
    // (-0.3 V), but the latch at 0 V decides it wrong
    auto bits = prbsBits(6000);
    auto w = waveform(bits, 0);
    holdBit(w, firstOne(bits, 5000), -0.1);
    TdEyeResult r = feed(bits, w, false);
    EXPECT_EQ(r.bitErrors, 1u);
    EXPECT_NEAR(r.opening, 0.2, 1e-12);
    EXPECT_EQ(r.eyeHeight, 0.0);
    EXPECT_EQ(r.eyeWidth, 0.0);
    // the same "1" at +0.1 V is no error: the eye is the 0.4 V between it and the "0"s
    holdBit(w, firstOne(bits, 5000), 0.1);
    r = feed(bits, w, false);
    EXPECT_EQ(r.bitErrors, 0u);
    EXPECT_NEAR(r.eyeHeight, 0.4, 1e-12);
}

TEST(TdEye, PictureDrawsEveryMeasuredTraceDownToASingleOne) {
    // a single "1" at 0.9 V near the end of a 12 000-bit run: far beyond the first 4000
    // measured bits, and the only trace at that level
    auto bits = prbsBits(12000);
    auto w = waveform(bits, 0);
    holdBit(w, firstOne(bits, 11500), 0.9);
    const TdEyeResult r = feed(bits, w, false);
    ASSERT_GT(r.pictureRows, 0);
    EXPECT_EQ(r.pictureTraces, r.sampledBits);
    const int rows = r.pictureRows;
    auto rowOf = [&](double v) {
        return static_cast<std::size_t>((v - r.vMin) / (r.vMax - r.vMin) * rows);
    };
    const std::size_t centre = static_cast<std::size_t>(r.pictureColumns / 2);
    auto cell = [&](std::size_t row) { return r.picture[centre * rows + row]; };
    EXPECT_EQ(cell(rowOf(0.9)), 1.0);
    // the colour scale reaches that single trace
    double peak = 0;
    for (double v : r.picture) peak = std::max(peak, v);
    EXPECT_GE(1 + std::log10(1.0 / peak) / traceScaleDecades(r.picture), 0.0);
    // at the sampling point the picture is open exactly where the measurement is: traces at the
    // lowest "1" and the highest "0", none between
    EXPECT_NEAR(r.levelOneMin, 0.3, 1e-12);
    EXPECT_NEAR(r.levelZeroMax, -0.3, 1e-12);
    EXPECT_GT(cell(rowOf(r.levelOneMin)), 0.0);
    EXPECT_GT(cell(rowOf(r.levelZeroMax)), 0.0);
    for (std::size_t row = rowOf(r.levelZeroMax) + 1; row < rowOf(r.levelOneMin); ++row)
        EXPECT_EQ(cell(row), 0.0) << "row " << row;
}

TEST(TdEye, QuarterEyesShowAnEyeStillOpening) {
    // the levels grow by half over the run: the last quarter's eye is wider than the third's
    auto bits = prbsBits(8000);
    auto w = waveform(bits, 0);
    for (std::size_t i = 0; i < w.size(); ++i)
        w[i] *= 0.5 + 0.5 * static_cast<double>(i) / static_cast<double>(w.size());
    const TdEyeResult r = feed(bits, w, false);
    const SegmentEye& third = r.lastQuarters[0];
    const SegmentEye& last = r.lastQuarters[1];
    // 7900 measured bits: quarters from bit 100 + 3950 and 100 + 5925
    EXPECT_EQ(third.firstBit, 4050u);
    EXPECT_EQ(last.firstBit, 6025u);
    EXPECT_NEAR(static_cast<double>(third.bits), 1975, 3);
    // each quarter's eye is set by its first bits: 0.6 V scaled at their start
    EXPECT_NEAR(third.eyeHeight, 0.6 * (0.5 + 0.5 * 4050.0 / 8000), 0.01);
    EXPECT_NEAR(last.eyeHeight, 0.6 * (0.5 + 0.5 * 6025.0 / 8000), 0.01);
}

TEST(TdEye, PictureIsNoMoreOpenThanTheMeasurementWithJitterAndSlopedEdges) {
    // edges that ramp over the whole bit and sampling instants moved by duty-cycle and random
    // jitter: each trace is drawn around its own instant, so the picture's centre column holds
    // the traces at the measured levels (a trace may move further in within the column)
    auto bits = prbsBits(6000);
    std::vector<double> w(bits.size() * kSpb, 0.0);
    for (std::size_t k = 1; k < bits.size(); ++k) {
        const double a = bits[k - 1] ? 0.4 : -0.4, b = bits[k] ? 0.4 : -0.4;
        for (int i = 0; i < kSpb; ++i)
            w[k * kSpb + static_cast<std::size_t>(i)] = a + (b - a) * (i + 1.0) / kSpb;
    }
    TdEyeOptions o = options();
    o.jitter.dcd = 0.1 * kBit;
    o.jitter.rjRms = 0.02 * kBit;
    for (bool clocks : {false, true}) {
        const TdEyeResult r = feed(bits, w, clocks, o);
        ASSERT_GT(r.pictureRows, 0);
        const int rows = r.pictureRows;
        auto rowOf = [&](double v) {
            return static_cast<std::size_t>((v - r.vMin) / (r.vMax - r.vMin) * rows);
        };
        const std::size_t centre = static_cast<std::size_t>(r.pictureColumns / 2);
        auto cell = [&](std::size_t row) { return r.picture[centre * rows + row]; };
        EXPECT_GT(cell(rowOf(r.levelOneMin)), 0.0) << "clock times " << clocks;
        EXPECT_GT(cell(rowOf(r.levelZeroMax)), 0.0) << "clock times " << clocks;
    }
}

TEST(TdEye, ALongRunDrawsAnEvenSampleOfAtMostTwoHundredThousandTraces) {
    // a few more measured bits than the picture draws: every second one is drawn
    constexpr int spb = 2;
    TdEyeOptions o = options();
    o.samplesPerBit = spb;
    o.mainIndex = 1;
    const std::vector<bool> bits = prbsBits(o.ignoreBits + 200008);
    std::vector<double> w(bits.size() * spb);
    for (std::size_t i = 0; i < w.size(); ++i) w[i] = bits[i / spb] ? 0.4 : -0.4;
    TdEye eye(bits, o);
    for (std::size_t pos = 0; pos < w.size(); pos += 65536) {
        const std::size_t n = std::min<std::size_t>(65536, w.size() - pos);
        eye.addBlock(std::vector<double>(w.begin() + static_cast<long>(pos),
                                         w.begin() + static_cast<long>(pos + n)),
                     {});
    }
    const TdEyeResult r = eye.finish();
    ASSERT_GT(r.sampledBits, 200000u);
    EXPECT_LE(r.pictureTraces, 200000u);
    EXPECT_NEAR(static_cast<double>(r.pictureTraces), r.sampledBits / 2.0, 1.0);
}

TEST(TdEye, TracesDrawnOnTheirOwnThreadGiveTheSamePicture) {
    // Smooth edges and jitter put the traces' columns between samples, where the painter's copy
    // must interpolate exactly as the window does.
    const std::vector<bool> bits = prbsBits(3000);
    std::vector<double> w = waveform(bits, 2);
    for (std::size_t i = 0; i < w.size(); ++i)
        w[i] += 0.05 * std::sin(0.37 * static_cast<double>(i));
    TdEyeOptions o = options();
    o.jitter.rjRms = 0.07 * kBit;
    o.jitter.dcd = 0.02 * kBit;
    for (bool clocks : {false, true}) {
        const TdEyeResult here = feed(bits, w, clocks, o);
        TdEyeOptions aside = o;
        aside.paintAside = true;
        const TdEyeResult painted = feed(bits, w, clocks, aside);
        ASSERT_GT(here.pictureTraces, 1000u);
        EXPECT_EQ(painted.pictureTraces, here.pictureTraces);
        EXPECT_EQ(painted.picture, here.picture) << (clocks ? "clock times" : "nominal");
        EXPECT_EQ(painted.eyeHeight, here.eyeHeight);
    }
}
