// Text readers of the transmitter database and the amplitude function.
#include "tx/vod_tables.hpp"

#include <sstream>
#include <string>

#include "tx/text_lines.hpp"
#include "tx_test_support.hpp"

namespace v10kx_ami_tx {
namespace {

using txtest::TempDir;
using txtest::WriteText;

TEST(ReadTextLines, KeepsOnlyLineFeedTerminatedLinesAndDropsCr) {
    TempDir dir;
    WriteText(dir.path() / "a.txt", "first\r\n  second\n\nlast without line feed");
    const TextLines t = ReadTextLines((dir.path() / "a.txt").string());
    EXPECT_TRUE(t.opened);
    EXPECT_TRUE(t.error.empty());
    EXPECT_EQ(t.lines, (std::vector<std::string>{"first", "  second", ""}));
}

TEST(ReadTextLines, MissingFileAndOverlongLine) {
    TempDir dir;
    EXPECT_FALSE(ReadTextLines((dir.path() / "none.txt").string()).opened);

    WriteText(dir.path() / "ok.txt", std::string(1023, '1') + "\n");
    EXPECT_EQ(ReadTextLines((dir.path() / "ok.txt").string()).lines.size(), 1u);

    WriteText(dir.path() / "long.txt", "1\n" + std::string(1024, '1') + "\n2\n");
    const TextLines t = ReadTextLines((dir.path() / "long.txt").string());
    EXPECT_TRUE(t.opened);
    EXPECT_NE(t.error.find("line 2"), std::string::npos) << t.error;
    EXPECT_TRUE(t.lines.empty());
}

TEST(NumberParsing, LenientAndFull) {
    EXPECT_EQ(ParseLenient(""), 0.0);
    EXPECT_EQ(ParseLenient("abc"), 0.0);
    EXPECT_EQ(ParseLenient("  2.5 volts"), 2.5);
    EXPECT_EQ(ParseFull(" 0.5"), 0.5);
    EXPECT_FALSE(ParseFull("0.5 "));
    EXPECT_FALSE(ParseFull("0.5x"));
    EXPECT_FALSE(ParseFull(""));
    EXPECT_EQ(ParseFull("-1e-3"), -1e-3);
}

TEST(VodTable, TrailerLinesAndSettings) {
    std::string error;
    const std::vector<std::string> lines{"3", "1", "2", "3", "2.5", "0.5"};
    const auto t = ParseVodTable(lines, error);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->linearNumerator, 2.5);
    EXPECT_EQ(t->linearDenominator, 0.5);
    EXPECT_EQ(VodSettings(lines), (std::vector<double>{1, 2, 3}));

    EXPECT_FALSE(ParseVodTable({"1", "2"}, error));
    EXPECT_NE(error.find("2 complete lines"), std::string::npos);
    EXPECT_FALSE(ParseVodTable({"1", "2", "0"}, error));
    EXPECT_NE(error.find("zero"), std::string::npos);
}

std::vector<std::string> Record(const std::string& corner, const std::string& supply,
                                std::vector<std::string> coefs, const std::string& scale) {
    std::vector<std::string> lines{corner, supply, std::to_string(coefs.size())};
    lines.insert(lines.end(), coefs.begin(), coefs.end());
    lines.push_back(scale);
    return lines;
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST(VodCoefTable, ReadsRecordsBackToBack) {
    std::string error;
    const auto t = ParseVodCoefTable(Join({Record("Fast", "1.1 V", {"0.1", "0.02"}, "0.5"),
                                           Record("Typical", "1.0 V", {"1"}, "2")}),
                                     error);
    ASSERT_TRUE(t);
    ASSERT_EQ(t->size(), 2u);
    EXPECT_EQ((*t)[0].corner, "Fast");
    EXPECT_EQ((*t)[0].supply, "1.1 V");
    EXPECT_EQ((*t)[0].coefficients, (std::vector<double>{0.1, 0.02}));
    EXPECT_EQ((*t)[1].scale, 2.0);
}

TEST(VodCoefTable, MalformedNumberRejectsEverythingSilently) {
    std::string error;
    const auto lines =
        Join({Record("Fast", "1.1 V", {"0.1"}, "0.5"), Record("Slow", "1.1 V", {"0.1"}, "0.5"),
              Record("Typical", "1.0 V", {"0.5 "}, "0.5")});
    EXPECT_FALSE(ParseVodCoefTable(lines, error));
    EXPECT_TRUE(error.empty());
}

TEST(VodCoefTable, CutOffOrImpossibleCountsAreReported) {
    std::string error;
    auto lines = Record("Fast", "1.1 V", {"0.1", "0.2"}, "0.5");
    lines.pop_back();  // the scale is missing
    EXPECT_FALSE(ParseVodCoefTable(lines, error));
    EXPECT_NE(error.find("cut off"), std::string::npos);

    error.clear();
    EXPECT_FALSE(ParseVodCoefTable({"Fast", "1.1 V", "4000000000", "1", "1"}, error));
    EXPECT_NE(error.find("cut off"), std::string::npos);

    for (const char* count : {"0", "-2"}) {
        error.clear();
        EXPECT_FALSE(ParseVodCoefTable({"Fast", "1.1 V", count, "1"}, error));
        EXPECT_NE(error.find("count below 1"), std::string::npos) << count;
    }
    error.clear();
    EXPECT_FALSE(ParseVodCoefTable({"Fast"}, error));
    EXPECT_NE(error.find("cut off"), std::string::npos);
}

TEST(VodCoefTable, FractionalCountIsTruncated) {
    std::string error;
    const auto t = ParseVodCoefTable({"Fast", "1.1 V", "2.9", "1", "2", "0.5"}, error);
    ASSERT_TRUE(t);
    EXPECT_EQ((*t)[0].coefficients.size(), 2u);
    EXPECT_EQ((*t)[0].scale, 0.5);
}

TEST(VodAmplitude, LinearFallback) {
    std::ostringstream console;
    const TxSelections sel;
    EXPECT_EQ(VodAmplitude(31, VodTable{}, {}, sel, console), 30.0);
    EXPECT_EQ(VodAmplitude(2, VodTable{}, {}, sel, console), 1.0);
    // (10 - 1) * 1000 / 3 * 1000 = 3000000 -> 3.0; (2-1)*2000/3*1000 = 666666.67 -> 0.666667.
    EXPECT_EQ(VodAmplitude(10, VodTable{1.0, 3.0}, {}, sel, console), 3.0);
    EXPECT_DOUBLE_EQ(VodAmplitude(2, VodTable{2.0, 3.0}, {}, sel, console), 0.666667);
    EXPECT_DOUBLE_EQ(VodAmplitude(0, VodTable{2.0, 3.0}, {}, sel, console), -0.666667);
    // Absurd tables saturate instead of overflowing.
    EXPECT_GT(VodAmplitude(31, VodTable{1e30, 1.0}, {}, sel, console), 2000.0);
    EXPECT_TRUE(console.str().empty());
}

TEST(VodAmplitude, SelectedRecordOrFirstWithConsoleLine) {
    const VodCoefTable table{{"Fast", "1.1 V", {0.1, 0.02}, 0.5}, {"Typical", "1.0 V", {0.2}, 1.0}};
    TxSelections sel;
    std::ostringstream console;
    EXPECT_DOUBLE_EQ(VodAmplitude(10, {}, table, sel, console), 0.4);  // 0.2 * 2 * 1
    EXPECT_TRUE(console.str().empty());

    sel.cornerName = "Slow";
    EXPECT_DOUBLE_EQ(VodAmplitude(10, {}, table, sel, console), 0.3);  // (0.1 + 0.2) * 2 * 0.5
    VodAmplitude(10, {}, table, sel, console);
    const std::string line =
        "Cannot find exact TX VOD corner id. Use typical corner in simulation. Please check "
        "Kavor installation integrity.\n";
    EXPECT_EQ(console.str(), line + line);
}

}  // namespace
}  // namespace v10kx_ami_tx
