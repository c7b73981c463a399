// Reading what the models say: warning blocks in both models' styles, console lines, the
// validity flag, adapted gains and the DFE tap report.
#include "amisim/host/model_messages.hpp"

#include <gtest/gtest.h>

using namespace amisim;

TEST(ModelMessages, WarningBlocksOfBothModelsKeepTheirExplanations) {
    // a transmitter log: a repaired tap with its hint, the bit-rate warning before the report
    const std::string tx =
        "Model Identification: Vanta-10 Tx AMI v1.7\n\n"
        "**Warning** Value given for 'ptap1' was negative and has been set to '0'.\n"
        "In order to set a negative tap value, use a positive number, here, and set the tap's "
        "invert selector to '1'.\n"
        "**Warning** Value given for 'tap1' was too high, given the Vod selection.\n"
        "  It has been left unchanged.\n"
        "**Warning** Bit rate is outside the legal range of 0.611000 - 17.400000 Gbps!\n"
        "  Bit rate:  50.000000 Gbps\n"
        "  (Tx_Rj  2.107111e-13)\n"
        "\nUser selections:\n\tVod:\t31\n";
    const auto w = warningLines(tx);
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(w[0],
              "**Warning** Value given for 'ptap1' was negative and has been set to '0'. / In "
              "order to set a negative tap value, use a positive number, here, and set the tap's "
              "invert selector to '1'.");
    EXPECT_EQ(w[1],
              "**Warning** Value given for 'tap1' was too high, given the Vod selection. / It "
              "has been left unchanged.");
    EXPECT_EQ(w[2],
              "**Warning** Bit rate is outside the legal range of 0.611000 - 17.400000 Gbps!");

    // a receiver log: an illegal value with its default, then the fetch warning
    const std::string rx =
        "INFO: Path: `/kit' was specified by DLL_Path.\n"
        "Model Identification: Corvan Vanta-10KX/KT Rx AMI v2.0\n\n"
        "AMI Parameter Input Values:\n"
        "Illegal value supplied for parameter 'vga_gain': 9\nUsing default value: 0\n\n"
        "\tvga_gain: 0\n"
        "Leaf value getter is reporting that it couldn't find parameter 'pwrql'.\n"
        "Using default value: 0\n\n\tpwrql: 0\n"
        "WARNING: An error was reported by `FetchParamVals()`\n"
        "         Simulation results may be suspect.\n"
        "  Bit rate:  10.312500 Gbps\n";
    const auto r = warningLines(rx);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0], "Illegal value supplied for parameter 'vga_gain': 9 / Using default value: 0");
    EXPECT_EQ(r[1],
              "Leaf value getter is reporting that it couldn't find parameter 'pwrql'. / Using "
              "default value: 0");
    EXPECT_EQ(r[2],
              "WARNING: An error was reported by `FetchParamVals()` / Simulation results may be "
              "suspect.");
    EXPECT_TRUE(
        warningLines("Model Identification: x\n\nAll parameters parsed successfully.\n").empty());
    // a model that could not start says so in its message
    EXPECT_EQ(warningLines("FATAL ERROR: Couldn't even allocate pointer memory!"),
              std::vector<std::string>{"FATAL ERROR: Couldn't even allocate pointer memory!"});
    EXPECT_EQ(warningLines("x\nFailed memory allocation: impulse copy\n"),
              std::vector<std::string>{"Failed memory allocation: impulse copy"});
}

TEST(ModelMessages, ConsoleLinesFoldRepeats) {
    const auto c = consoleLines(
        "ERROR: locate size error\n     in file Interpolation2 at line 606\n"
        "\nERROR: locate size error\n     in file Interpolation2 at line 606\n");
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0], "ERROR: locate size error (printed 2 times)");
    EXPECT_EQ(c[1], "in file Interpolation2 at line 606 (printed 2 times)");
}

TEST(ModelMessages, OutputParametersAndMessageFigures) {
    EXPECT_EQ(paramsValid("(Vanta10_Tx\n  (Tx_Rj  1e-13)\n  (Params_Valid False)\n)\n"), false);
    EXPECT_EQ(paramsValid("(Vanta10_Tx\n  (Params_Valid True))"), true);
    EXPECT_FALSE(paramsValid("(Vanta10_Rx\n  (Rx_Rj  1e-12) )\n").has_value());

    const auto g =
        adaptedGains("Entering...\nAfter adaptaion: AC Gain: 12, DC Gain: 3, VGA Gain: 5\n");
    ASSERT_TRUE(g.has_value());
    EXPECT_EQ(g->ac, 12);
    EXPECT_EQ(g->dc, 3);
    EXPECT_EQ(g->vga, 5);
    EXPECT_FALSE(adaptedGains("After adaptaion: AC Gain: x").has_value());

    // the receiver's report after a block: the root, then " (tap_%d %d %f)" per tap
    const auto taps = dfeTapReport("(Vanta10_Rx\n (tap_2 -7 -0.011000) (tap_1 40 0.083307))\n");
    ASSERT_EQ(taps.size(), 2u);
    EXPECT_EQ(taps[0].index, 1);
    EXPECT_EQ(taps[0].code, 40);
    EXPECT_DOUBLE_EQ(taps[0].weight, 0.083307);
    EXPECT_EQ(taps[1].code, -7);
    EXPECT_TRUE(dfeTapReport("(Vanta10_Rx\n)\n").empty());
    EXPECT_TRUE(dfeTapReport("not a list").empty());

    EXPECT_EQ(rootNameOf("(Vanta10_Rx\n  (Description \"x\"))"), "Vanta10_Rx");
    EXPECT_EQ(rootNameOf("nothing"), "");
}
