#include "amisim/channel/channel.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <sstream>

#include "amisim/channel/block_convolver.hpp"
#include "support/measured_channel.hpp"
#include "test_support.hpp"

using namespace amisim;

namespace {
constexpr double kBitTime = 1 / 10.3125e9;
constexpr int kSpb = 32;
constexpr double kDt = kBitTime / kSpb;

double lossDb(const ChannelImpulse& ch, double f) {
    return -20 * std::log10(std::abs(frequencyResponse(ch, f)));
}
}  // namespace

TEST(LossyLine, LossAtNyquistMatchesTheOption) {
    for (double loss : {5.0, 20.0, 35.0}) {
        LossyLineOptions opt;
        opt.lossDbAtNyquist = loss;
        opt.nyquistHz = 5.15625e9;
        ChannelImpulse ch = buildLossyLine(opt, kDt, kSpb);
        EXPECT_NEAR(lossDb(ch, opt.nyquistHz), loss, 0.1) << loss;
        // in between, at a quarter of Nyquist: 35 % skin loss growing as sqrt(f + 50 MHz) -
        // sqrt(50 MHz), 65 % dielectric loss growing as f
        const double skin = (std::sqrt(1.2890625e9 + 50e6) - std::sqrt(50e6)) /
                            (std::sqrt(5.15625e9 + 50e6) - std::sqrt(50e6));
        EXPECT_NEAR(lossDb(ch, opt.nyquistHz / 4), loss * (0.35 * skin + 0.65 * 0.25), 0.1);
        // DC passes unchanged, and the record length is whole bits
        EXPECT_NEAR(std::accumulate(ch.impulse.begin(), ch.impulse.end(), 0.0) * kDt, 1.0, 5e-3);
        EXPECT_EQ(ch.impulse.size() % kSpb, 0u);
    }
}

TEST(LossyLine, ResponseIsCausalAndDecays) {
    LossyLineOptions opt;
    ChannelImpulse ch = buildLossyLine(opt, kDt, kSpb);
    const auto peak = std::max_element(ch.impulse.begin(), ch.impulse.end());
    // minimum phase: the response rises at once and its energy is near the front
    EXPECT_LT(peak - ch.impulse.begin(), 2 * kSpb);
    // it has died away well before the end of the computed record (1024 UI)
    double tailMax = 0;
    for (std::size_t i = ch.impulse.size() * 9 / 10; i < ch.impulse.size(); ++i)
        tailMax = std::max(tailMax, std::abs(ch.impulse[i]));
    EXPECT_LT(tailMax, 1e-4 * *peak);
    EXPECT_LT(ch.impulse.size(), 800u * kSpb);
}

TEST(S4pChannel, FlatThroughGivesItsGainAndNoDispersion) {
    // a delay-free thru of 0.5 on both legs from 10 MHz to 40 GHz: SDD21 = 0.5. Without any
    // delay the band-limited response rings on both sides of its peak.
    std::ostringstream os;
    os << "# GHz S MA R 50\n";
    for (int k = 1; k <= 4000; ++k) {
        os << k * 0.01;
        for (int i = 0; i < 16; ++i) os << ((i == 8 || i == 13) ? " 0.5 0" : " 0 0");
        os << "\n";
    }
    amisim_test::TempDir dir;
    const std::string path = dir.write("flat.s4p", os.str());
    ChannelImpulse ch = buildFromS4p(path, PortOrder::Pairs12_34, kDt, kSpb);
    EXPECT_NEAR(std::accumulate(ch.impulse.begin(), ch.impulse.end(), 0.0) * kDt, 0.5, 5e-3);
    EXPECT_NEAR(lossDb(ch, 5.15625e9), 20 * std::log10(2.0), 0.05);
    const auto peak = std::max_element(ch.impulse.begin(), ch.impulse.end());
    EXPECT_GE(peak - ch.impulse.begin(), 2 * kSpb);
    // a file that is not a four-port is refused
    EXPECT_THROW(
        buildFromS4p(dir.write("bad.s4p", "# GHz S MA\n1 2 3\n"), PortOrder::Pairs12_34, kDt, kSpb),
        TouchstoneError);
}

TEST(S4pChannel, MeasuredImpulseIsCutWhereItSinksIntoTheNoise) {
    // 10 MHz steps give a 100 ns record; the response has died away into the instrument's
    // noise after a few nanoseconds, which is all the simulation needs to convolve with.
    amisim_test::TempDir dir;
    const auto path = dir.path() / "backplane.s4p";
    testsupport::MeasuredChannelShape shape;
    testsupport::WriteMeasuredChannel(path, shape);
    ChannelImpulse ch = buildFromS4p(path.string(), PortOrder::Pairs12_34, kDt, kSpb);
    EXPECT_LT(ch.impulse.size(), 16384u);  // the whole record would keep 114 688 samples
    EXPECT_EQ(ch.impulse.size() % kSpb, 0u);
    // What was kept still carries the channel: its gain at the lowest measured frequency (held
    // down to DC), its loss at Nyquist, and its peak, with the rise before it.
    const double lowest = std::pow(10.0, -testsupport::MeasuredThruLossDb(shape, 10e6) / 20);
    EXPECT_NEAR(std::accumulate(ch.impulse.begin(), ch.impulse.end(), 0.0) * kDt, lowest, 0.02);
    EXPECT_NEAR(lossDb(ch, 5.15625e9), testsupport::MeasuredThruLossDb(shape, 5.15625e9), 0.2);
    const auto peak = std::max_element(ch.impulse.begin(), ch.impulse.end());
    EXPECT_GT(peak - ch.impulse.begin(), kSpb);
    EXPECT_LT(peak - ch.impulse.begin(), 64 * kSpb);
}

TEST(BlockConvolver, BlocksOfAnySizeMatchOneLongConvolution) {
    std::vector<double> taps{0.5, 0.25, -0.125, 0.0625, 0.03};
    std::vector<double> x(1000);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = std::sin(0.37 * static_cast<double>(i)) + (i % 7 == 0);
    std::vector<double> direct(x.size(), 0.0);
    for (std::size_t n = 0; n < x.size(); ++n)
        for (std::size_t k = 0; k < taps.size() && k <= n; ++k) direct[n] += taps[k] * x[n - k];
    BlockConvolver conv(taps);
    std::size_t pos = 0;
    for (std::size_t len : {1u, 3u, 100u, 17u, 512u, 367u}) {
        std::vector<double> block(x.begin() + static_cast<long>(pos),
                                  x.begin() + static_cast<long>(pos + len));
        conv.process(block);
        for (std::size_t i = 0; i < len; ++i)
            ASSERT_NEAR(block[i], direct[pos + i], 1e-12) << pos + i;
        pos += len;
    }
    EXPECT_EQ(pos, x.size());
}
