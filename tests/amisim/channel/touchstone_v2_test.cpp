// Touchstone 2.0 files read as their 1.x twins: keywords, matrix formats, mixed-mode data,
// files of more than four ports with a named through pair, and clear refusals of broken files.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <sstream>

#include "amisim/channel/channel_file.hpp"
#include "amisim/channel/touchstone.hpp"
#include "test_support.hpp"

namespace {

using C = std::complex<double>;
using amisim::NPortData;
using amisim::TouchstoneError;

// A reciprocal n-port whose every entry differs: S[i][j] = S[j][i].
C entry(int i, int j, int k) {
    const int a = std::min(i, j), b = std::max(i, j);
    return std::polar(0.05 + 0.9 / (1 + a + 2 * b), 0.1 * (a + 3 * b) + 0.2 * k);
}

enum class Layout { Full, Lower, Upper };

// The data lines of `n` ports at three frequencies (GHz), RI or MA, in one layout.
std::string dataLines(int n, Layout layout, bool ri) {
    std::ostringstream os;
    os.precision(17);
    for (int k = 0; k < 3; ++k) {
        os << (k + 1);
        for (int i = 0; i < n; ++i) {
            const int from = layout == Layout::Upper ? i : 0;
            const int to = layout == Layout::Lower ? i + 1 : n;
            for (int j = from; j < to; ++j) {
                const C v = entry(i, j, k);
                if (ri)
                    os << ' ' << v.real() << ' ' << v.imag();
                else
                    os << ' ' << std::abs(v) << ' ' << std::arg(v) * 180 / M_PI;
            }
            os << "\n";
        }
    }
    return os.str();
}

std::string v2Header(int n, const std::string& format, const std::string& extra = "") {
    return "! made by hand\n[Version] 2.0\n# GHz S RI R 50\n[Number of Ports] " +
           std::to_string(n) + "\n[Number of Frequencies] 3\n[Matrix Format] " + format + "\n" +
           extra + "[Network Data]\n";
}

void expectSame(const NPortData& a, const NPortData& b) {
    ASSERT_EQ(a.ports, b.ports);
    ASSERT_EQ(a.frequencies, b.frequencies);
    for (std::size_t k = 0; k < a.s.size(); ++k)
        for (std::size_t e = 0; e < a.s[k].size(); ++e)
            EXPECT_NEAR(std::abs(a.s[k][e] - b.s[k][e]), 0.0, 1e-9) << k << " " << e;
}

TEST(TouchstoneV2, KeywordFilesAndEveryMatrixFormatReadAsTheir1xTwin) {
    const NPortData v1 =
        amisim::parseTouchstone("# GHz S MA R 50\n" + dataLines(4, Layout::Full, false), "a.s4p");
    EXPECT_EQ(v1.version, 1);
    EXPECT_DOUBLE_EQ(v1.frequencies[1], 2e9);
    const NPortData full =
        amisim::parseTouchstone(v2Header(4, "Full", "[Reference] 50 50\n 50 50\n") +
                                    dataLines(4, Layout::Full, true) + "[End]\n",
                                "b.ts");
    EXPECT_EQ(full.version, 2);
    expectSame(v1, full);
    expectSame(v1,
               amisim::parseTouchstone(
                   v2Header(4, "Lower") + dataLines(4, Layout::Lower, true) + "[End]\n", "c.ts"));
    expectSame(v1, amisim::parseTouchstone(v2Header(4, "Upper") + dataLines(4, Layout::Upper, true),
                                           "d.ts"));

    // the same channel: the four-port twins give one insertion loss
    const amisim::FourPortData a =
        amisim::parseS4p("# GHz S MA R 50\n" + dataLines(4, Layout::Full, false), "a.s4p");
    const amisim::FourPortData b =
        amisim::parseS4p(v2Header(4, "Upper") + dataLines(4, Layout::Upper, true), "d.ts");
    const auto la = amisim::differentialInsertionLoss(a, amisim::PortOrder::Pairs13_24);
    const auto lb = amisim::differentialInsertionLoss(b, amisim::PortOrder::Pairs13_24);
    for (std::size_t k = 0; k < la.size(); ++k) EXPECT_NEAR(std::abs(la[k] - lb[k]), 0, 1e-9);
}

TEST(TouchstoneV2, TwoPortOrderAndMixedModeDataTurnBackIntoSingleEnded) {
    // S12 differs from S21 here: 21_12 lists S11 S21 S12 S22
    const std::string twoPort =
        "[Version] 2.0\n# Hz S RI R 50\n[Number of Ports] 2\n"
        "[Two-Port Data Order] 21_12\n[Network Data]\n"
        "1 0.1 0 0.2 0 0.3 0 0.4 0\n";
    const NPortData t = amisim::parseTouchstone(twoPort, "t.ts");
    EXPECT_DOUBLE_EQ(t.s[0][1].real(), 0.3);  // S12
    EXPECT_DOUBLE_EQ(t.s[0][2].real(), 0.2);  // S21

    // mixed-mode data computed here from the single-ended matrix: rows D1,2 D3,4 C1,2 C3,4
    const double h = std::sqrt(0.5);
    const double m[4][4] = {{h, -h, 0, 0}, {0, 0, h, -h}, {h, h, 0, 0}, {0, 0, h, h}};
    std::ostringstream os;
    os.precision(17);
    for (int k = 0; k < 3; ++k) {
        os << (k + 1);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) {
                C v = 0;
                for (int i = 0; i < 4; ++i)
                    for (int j = 0; j < 4; ++j) v += m[r][i] * entry(i, j, k) * m[c][j];
                os << ' ' << v.real() << ' ' << v.imag();
            }
        os << "\n";
    }
    const NPortData mixed = amisim::parseTouchstone(
        v2Header(4, "Full", "[Mixed-Mode Order] D1,2 D3,4\n C1,2 C3,4\n") + os.str(), "m.ts");
    const NPortData single =
        amisim::parseTouchstone(v2Header(4, "Full") + dataLines(4, Layout::Full, true), "s.ts");
    expectSame(single, mixed);
}

TEST(TouchstoneV2, LargerFilesNeedTheirThroughPairNamed) {
    amisim_test::TempDir dir;
    // an 8-port 1.x file: its ports 5, 7 (input) and 6, 8 (output) against a four-port of them
    const std::string eight =
        dir.write("ch.s8p", "# GHz S RI R 50\n" + dataLines(8, Layout::Full, true));
    const NPortData d = amisim::readTouchstone(eight);
    ASSERT_EQ(d.ports, 8);
    const amisim::FourPortData four = amisim::throughFourPort(d, {5, 7, 6, 8}, eight);
    const int map[4] = {4, 6, 5, 7};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_NEAR(
                std::abs(four.s[1][static_cast<std::size_t>(i * 4 + j)] - entry(map[i], map[j], 1)),
                0, 1e-12);
    EXPECT_EQ(amisim::parseThroughPorts("5-7/6-8"), (std::array<int, 4>{5, 7, 6, 8}));
    EXPECT_THROW(amisim::parseThroughPorts("5-5/6-8"), TouchstoneError);
    EXPECT_THROW(amisim::parseThroughPorts("5-7/6"), TouchstoneError);
    EXPECT_THROW(amisim::throughFourPort(d, {1, 2, 3, 9}, eight), TouchstoneError);

    amisim::LinkConfig cfg;
    cfg.s4pFile = eight;
    std::vector<std::string> warnings;
    try {
        amisim::readChannelFile(cfg.s4pFile, cfg.throughPorts, warnings);
        FAIL() << "an 8-port file without --ports was taken";
    } catch (const TouchstoneError& e) {
        EXPECT_NE(std::string(e.what()).find("--ports a-b/c-d"), std::string::npos) << e.what();
    }
    cfg.throughPorts = std::array<int, 4>{1, 2, 3, 4};
    amisim::readChannelFile(cfg.s4pFile, cfg.throughPorts, warnings);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("ports 5, 6, 7, 8"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find("aggressors"), std::string::npos);
}

TEST(TouchstoneV2, MalformedFilesAreRefusedWithTheReason) {
    auto expectError = [](const std::string& text, const std::string& part) {
        try {
            amisim::parseTouchstone(text, "bad.ts");
            FAIL() << "accepted: " << text;
        } catch (const TouchstoneError& e) {
            EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
    };
    const std::string data = dataLines(4, Layout::Full, true);
    expectError("[Version] 3.0\n", "only Touchstone 2.0");
    expectError("[Number of Ports] 4\n", "starts with [Version]");
    expectError("[Version] 2.0\n# GHz S RI R 50\n[Network Data]\n" + data, "[Number of Ports]");
    expectError(v2Header(4, "Full", "[Frobnicate] 1\n") + data, "unknown keyword '[Frobnicate]'");
    expectError(
        "[Version] 2.0\n# GHz S RI R 50\n[Number of Ports] 4\n[Number of Frequencies] 5\n"
        "[Network Data]\n" +
            data,
        "says 5 but the data hold 3");
    expectError(v2Header(4, "Full", "[Reference] 50 50 50\n") + data, "3 impedances for 4 ports");
    expectError(v2Header(4, "Full", "[Reference] 50 50 50 75\n") + data, "different reference");
    expectError("[Version] 2.0\n# GHz S RI R 50\n[Number of Ports] 4\n" + data,
                "before [Network Data]");
    expectError(v2Header(4, "Diagonal") + data, "[Matrix Format] is Full, Lower or Upper");
    expectError(
        "[Version] 2.0\n# Hz S RI R 50\n[Number of Ports] 2\n[Network Data]\n"
        "1 0 0 0 0 0 0 0 0\n",
        "[Two-Port Data Order]");
    expectError(v2Header(4, "Full", "[Mixed-Mode Order] D1,2 D1,2 C3,4 C3,4\n") + data,
                "every port exactly once");
    expectError(v2Header(4, "Full", "[Mixed-Mode Order] D1,2 X3 C1,2 C3,4\n") + data,
                "not Dp,q, Cp,q or Sp");
    expectError(v2Header(4, "Lower") + data, "per frequency");
    expectError("# GHz S RI R 50\n" + data + "[Number of Ports] 4\n", "keyword in a 1.x file");
}

}  // namespace
