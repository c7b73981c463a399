// The hexagonal eye mask against eyes whose margins are worked out by hand, and the receiver's
// waveform written as CSV from a lossless link whose levels are known.
#include "amisim/eye/eye_mask.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "amisim/run/waveform_export.hpp"
#include "test_support.hpp"

namespace {

using amisim::EyeMask;

TEST(EyeMask, ShapeParsingAndMarginsAgainstATriangularEye) {
    const EyeMask m = amisim::parseEyeMask("40,0.4");
    EXPECT_DOUBLE_EQ(m.heightV, 0.04);
    EXPECT_DOUBLE_EQ(m.widthUi, 0.4);
    // flat over the middle half, then down to the tips at +-0.2 UI
    EXPECT_DOUBLE_EQ(amisim::maskHalfHeight(m, 0.0), 0.02);
    EXPECT_DOUBLE_EQ(amisim::maskHalfHeight(m, -0.1), 0.02);
    EXPECT_NEAR(amisim::maskHalfHeight(m, 0.15), 0.01, 1e-15);
    EXPECT_DOUBLE_EQ(amisim::maskHalfHeight(m, 0.2), 0.0);
    EXPECT_DOUBLE_EQ(amisim::maskHalfHeight(m, 0.5), 0.0);

    // an eye 30 mV high either side at its centre (0.3 UI), closing by 100 mV per UI: the
    // mask's corners at +-0.1 UI touch it (30 - 10 - 20 = 0 mV)
    std::vector<double> phase, half;
    for (int i = -100; i <= 100; ++i) {
        phase.push_back(0.3 + i * 0.005);
        half.push_back(0.030 - 0.1 * std::abs(i * 0.005));
    }
    auto c = amisim::checkEyeMask(m, phase, half, 0.3);
    ASSERT_TRUE(c);
    EXPECT_NEAR(c->marginV, 0.0, 1e-12);
    EXPECT_NEAR(std::abs(c->worstPhaseUi), 0.1, 1e-9);
    EXPECT_TRUE(c->pass || c->marginV > -1e-12);
    c = amisim::checkEyeMask(amisim::parseEyeMask("42,0.4"), phase, half, 0.3);
    ASSERT_TRUE(c);
    EXPECT_FALSE(c->pass);
    EXPECT_NEAR(c->marginV, -0.001, 1e-12);
    c = amisim::checkEyeMask(amisim::parseEyeMask("20,0.2"), phase, half, 0.3);
    EXPECT_TRUE(c->pass);
    EXPECT_NEAR(c->marginV, 0.030 - 0.1 * 0.05 - 0.010, 1e-12);  // at the flat top's end
    // an eye that does not span the mask's width tells nothing
    EXPECT_FALSE(amisim::checkEyeMask(m, {-0.1, 0.0, 0.1}, {0.1, 0.1, 0.1}, 0.0));

    // a flat-topped eye open from -0.3 to +0.1 UI: the mask goes to its middle, -0.1 UI
    std::vector<double> around, flat;
    for (double p : phase) {
        around.push_back(p - 0.3);
        flat.push_back(around.back() > -0.3 - 1e-9 && around.back() < 0.1 + 1e-9 ? 0.05 : -0.01);
    }
    EXPECT_NEAR(amisim::openSpanCentre(around, flat, -0.25), -0.1, 1e-9);
    EXPECT_DOUBLE_EQ(amisim::openSpanCentre(around, flat, 0.4), 0.4);  // closed there

    for (const char* bad : {"40", "x,0.3", "40,0", "-1,0.3", "40,1.5", "40,0.3,1", ""})
        EXPECT_THROW(amisim::parseEyeMask(bad), std::invalid_argument) << bad;
}

TEST(WaveformExport, WritesTheChosenBitsWithTheClockTimes) {
    EXPECT_THROW(amisim::parseWaveformRange("10"), std::invalid_argument);
    EXPECT_THROW(amisim::parseWaveformRange("10:10"), std::invalid_argument);
    EXPECT_THROW(amisim::parseWaveformRange("a:b"), std::invalid_argument);
    EXPECT_THROW(amisim::parseWaveformRange("0:2000000"), std::invalid_argument);

    amisim_test::FakeKit k;
    k.cfg.samplesPerBit = 8;
    k.cfg.rxOverrides = {{"gain", "0.5"}, {"clock", "1"}};
    k.cfg.waveformFile = k.dir.file("wave.csv");
    k.cfg.waveformBits = amisim::WaveformRange{300, 310};
    const amisim::LinkResult r = amisim::runLink(k.cfg);
    EXPECT_EQ(r.waveformRows, 80u);
    std::ifstream in(k.cfg.waveformFile);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "time_s,bit,rx_output_v,clock_time_s");
    const double dt = 1.0 / k.cfg.bitRate / 8;
    int rows = 0, clocks = 0, atLevel = 0;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::string t, bit, v, clock;
        std::getline(ls, t, ',');
        std::getline(ls, bit, ',');
        std::getline(ls, v, ',');
        std::getline(ls, clock);
        EXPECT_NEAR(std::stod(t), (300 * 8 + rows) * dt, 1e-6 * dt);
        EXPECT_EQ(std::stoul(bit), 300u + static_cast<unsigned>(rows) / 8);
        // lossless: +-0.5 V through the receiver's gain of 0.5
        EXPECT_LE(std::abs(std::stod(v)), 0.25 + 1e-9);
        atLevel += std::abs(std::abs(std::stod(v)) - 0.25) < 1e-6;
        if (!clock.empty()) {
            ++clocks;
            EXPECT_NEAR(std::stod(clock), std::stod(t), 0.5 * dt);
        }
        ++rows;
    }
    EXPECT_EQ(rows, 80);
    EXPECT_EQ(clocks, 10);   // one clock time a bit
    EXPECT_GE(atLevel, 40);  // away from the edges every sample sits at a level
}

}  // namespace
