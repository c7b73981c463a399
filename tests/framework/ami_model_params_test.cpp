// Receiver parameter queries: texts logged, values chosen, defaults taken.
#include "test_rx_model.hpp"

namespace {

std::string LogAfter(const TestRxModel& m, const std::string& marker) {
    const auto at = m.MsgLog().find(marker);
    return at == std::string::npos ? "<marker missing>" : m.MsgLog().substr(at);
}

TEST(FetchParamVals, AcceptsLogsAndFallsBackRowByRow) {
    TestRxModel m("(Rx (a 3abc) (b 7) (c x) (e \" 2 \"))");
    const bool failed =
        m.FetchParamVals({MakeIntParamSpec("a", {1, 3}), MakeIntParamSpec("b", {1, 2}),
                          MakeIntParamSpec("c", {5, 6}), MakeIntParamSpec("d", {9, 10}),
                          MakeIntParamSpec("e", {0, 1, 2})});
    EXPECT_TRUE(failed);
    EXPECT_EQ(LogAfter(m, "AMI Parameter Input Values:"),
              "AMI Parameter Input Values:\n"
              "\ta: 3\n"
              "Illegal value supplied for parameter 'b': 7\nUsing default value: 1\n\n"
              "\tb: 1\n"
              "Couldn't scan an integer from the value string of parameter 'c': x\n"
              "Using default value: 5\n\n"
              "\tc: 5\n"
              "Leaf value getter is reporting that it couldn't find parameter 'd'.\n"
              "Using default value: 9\n\n"
              "\td: 9\n"
              "\te: 2\n");
    EXPECT_EQ(m.Values(), (std::map<std::string, std::int32_t>{
                              {"a", 3}, {"b", 1}, {"c", 5}, {"d", 9}, {"e", 2}}));
    EXPECT_EQ(m.Indices(), (std::map<std::string, std::int32_t>{
                               {"a", 1}, {"b", 0}, {"c", 0}, {"d", 0}, {"e", 2}}));
}

TEST(FetchParamVals, AllAcceptedSaysSoAndReturnsFalse) {
    TestRxModel m("(Rx (g 4) (h -1))");
    EXPECT_FALSE(m.FetchParamVals({MakeIntParamSpec("g", {0, 4}), MakeIntParamSpec("h", {0, -1})}));
    EXPECT_EQ(
        LogAfter(m, "AMI Parameter Input Values:"),
        "AMI Parameter Input Values:\n\tg: 4\n\th: -1\nAll parameters parsed successfully.\n");
}

TEST(FetchParamVals, WithoutTreeEveryRowIsNotFound) {
    TestRxModel m("not a parameter string");
    EXPECT_TRUE(m.FetchParamVals({MakeIntParamSpec("g", {2, 4}), MakeIntParamSpec("h", {7})}));
    EXPECT_EQ(LogAfter(m, "AMI Parameter Input Values:"),
              "AMI Parameter Input Values:\n"
              "Leaf value getter is reporting that it couldn't find parameter 'g'.\n"
              "Using default value: 2\n\n\tg: 2\n"
              "Leaf value getter is reporting that it couldn't find parameter 'h'.\n"
              "Using default value: 7\n\n\th: 7\n");
}

TEST(FetchParamVals, NumberTooLargeForAnIntIsIllegalNotWrapped) {
    // 2^32 + 1 would wrap round to the allowed 1.
    TestRxModel m("(Rx (g 4294967297))");
    m.FetchParamVals({MakeIntParamSpec("g", {0, 1})});
    EXPECT_NE(m.MsgLog().find("Illegal value supplied for parameter 'g': 2147483647\nUsing "
                              "default value: 0\n\n\tg: 0\n"),
              std::string::npos)
        << m.MsgLog();
}

TEST(FetchParamVals, FirstEntryOfANameIsKeptAndMissingPositionIsZero) {
    TestRxModel m("(Rx (g 4))");
    IntParamSpec noPositions{"g", {4, 8}, {}, {}};
    m.FetchParamVals({noPositions, MakeIntParamSpec("g", {8, 4})});
    EXPECT_EQ(m.Values().at("g"), 4);
    EXPECT_EQ(m.Indices().at("g"), 0);

    TestRxModel n("(Rx (g 4))");
    n.FetchParamVals({MakeIntParamSpec("g", {8, 4})});
    EXPECT_EQ(n.Indices().at("g"), 1);
}

TEST(FetchParamVals, RowWithoutAllowedValuesFallsBackToZero) {
    TestRxModel m("(Rx (g 4))");
    EXPECT_TRUE(m.FetchParamVals({IntParamSpec{"g", {}, {}, {}}}));
    EXPECT_EQ(m.Values().at("g"), 0);
}

TEST(GetParamText, ReturnsValueOrWarnsWithTheDottedPath) {
    TestRxModel m("(Rx (debug (enable True)) (mode \" fast \"))");
    const std::size_t before = m.MsgLog().size();
    EXPECT_EQ(m.GetParamText({"debug", "enable"}), "True");
    EXPECT_EQ(m.GetParamText({"mode"}), "fast");
    EXPECT_EQ(m.MsgLog().size(), before);
    EXPECT_EQ(m.GetParamText({"debug", "level"}), "");
    EXPECT_EQ(m.MsgLog().substr(before), "WARNING: Couldn't find `debug.level.' parameter.\n");
}

TEST(GetParamText, WithoutTreeIsSilent) {
    TestRxModel m("(");
    const std::string log = m.MsgLog();
    EXPECT_EQ(m.GetParamText({"mode"}), "");
    EXPECT_EQ(m.MsgLog(), log);
}

}  // namespace
