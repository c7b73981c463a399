// AMI_Resolve: the front-end resistance and Touchstone file written into the parameter string.
#include "tx/front_end.hpp"

#include <cstring>

#include "framework/ami_tree.hpp"
#include "tx_test_support.hpp"

namespace v10kx_ami_tx {
namespace {

using txtest::TxLibrary;

// Calls AMI_Resolve on the model library; returns its result and the text it handed out.
std::pair<int, std::string> Resolve(const std::string& in) {
    const testsupport::AmiExports& lib = TxLibrary::Get();
    char* out = nullptr;
    const int rc = lib.resolve(nullptr, in.c_str(), &out);
    std::string text = out ? out : "<unwritten>";
    lib.resolveClose(out);
    return {rc, text};
}

FrontEnd Select(const std::string& leaves) {
    const AmiParamTree tree("(Tx " + leaves + ")");
    return SelectFrontEnd(&tree);
}

TEST(SelectFrontEnd, ResistanceAndFileTables) {
    const struct {
        const char* leaves;
        double txR;
        const char* file;
    } cases[] = {
        {"", 50, "v10tx_afe_tt_1.s4p"},
        {"(corner 1)", 46, "v10tx_afe_ff_1.s4p"},
        {"(corner 2) (rterm 85)", 45.5, "v10tx_afe_ss_1.s4p"},
        {"(corner 0) (rterm 85) (slew 5)", 43, "v10tx_afe_tt_6.s4p"},
        {"(corner 3) (rterm 85)", 40, "v10tx_afe_ff_1.s4p"},
        {"(corner 2) (rterm 100)", 52.5, "v10tx_afe_ss_1.s4p"},
        {"(rterm 85.0)", 50, "v10tx_afe_tt_1.s4p"},
        {"(corner 1) (slew 2.9)", 46, "v10tx_afe_ff_3.s4p"},
        {"(corner 1) (slew -0.5)", 46, "v10tx_afe_ff_1.s4p"},
        {"(corner 2) (slew 6)", 52.5, "v10tx_afe_tt_1.s4p"},
        {"(corner 1) (slew -1)", 46, "v10tx_afe_tt_1.s4p"},
        {"(corner 1) (slew 1e300)", 46, "v10tx_afe_tt_1.s4p"},
        {"(corner 2) (slew fast)", 52.5, "v10tx_afe_ss_1.s4p"},
    };
    for (const auto& c : cases) {
        const FrontEnd fe = Select(c.leaves);
        EXPECT_EQ(fe.txR, c.txR) << c.leaves;
        EXPECT_EQ(fe.touchstoneFile, c.file) << c.leaves;
    }
    EXPECT_EQ(SelectFrontEnd(nullptr).touchstoneFile, "v10tx_afe_tt_1.s4p");
}

TEST(AmiResolve, InsertsBothLeavesBeforeTheRootsClosingParenthesis) {
    const std::string in = "(Vanta10_Tx\n  (rterm 85)\n  (corner 1)\n  (slew 2)\n)";
    const auto [rc, out] = Resolve(in);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(out,
              "(Vanta10_Tx\n  (rterm 85)\n  (corner 1)\n  (slew 2)\n (Tx_R 40) "
              "(Tstonefile \"v10tx_afe_ff_3.s4p\"))");
}

TEST(AmiResolve, ReplacesExistingLeavesAndNormalisesBlanks) {
    const std::string in = "(Vanta10_Tx (rterm 100)\n\t(Tx_R 0)  (Tstonefile \"x.s4p\"))\n";
    const auto [rc, out] = Resolve(in);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(out, "(Vanta10_Tx (rterm 100) (Tx_R 50) (Tstonefile \"v10tx_afe_tt_1.s4p\")) ");
}

TEST(AmiResolve, KeepsEveryClosingParenthesisOfTheOldValue) {
    const auto [rc, out] = Resolve("(Root (Tx_R 12))");
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(out, "(Root (Tx_R 50) (Tstonefile \"v10tx_afe_tt_1.s4p\"))");
}

TEST(AmiResolve, UnparsableInputReturnsZeroAndWritesNothing) {
    for (const char* bad : {"(Root (a 1 (b 2)))", "no parentheses", "| comment\n(Root)", ""}) {
        const auto [rc, out] = Resolve(bad);
        EXPECT_EQ(rc, 0) << bad;
        EXPECT_EQ(out, "<unwritten>") << bad;
    }
    EXPECT_EQ(TxLibrary::Get().resolveClose(nullptr), 1);
}

TEST(ReplaceLeafValue, NameWithoutValueTokenStays) {
    bool found = true;
    EXPECT_EQ(ReplaceLeafValue("(a (Tx_R", "Tx_R", "1", found), "(a (Tx_R ");
    EXPECT_FALSE(found);
    EXPECT_EQ(AppendLeaf("no closer", "Tx_R", "1"), "");
    EXPECT_EQ(AppendLeaf("(a b )", "n", "v"), "(a b (n v))");
}

TEST(ReplaceLeafValue, LongInputsAreNotCut) {
    std::string in = "(Root";
    for (int i = 0; i < 3000; ++i) in += " (p" + std::to_string(i) + " 1)";
    in += " (Tx_R 7))";
    ASSERT_GT(in.size(), 16384u);
    bool found = false;
    const std::string out = ReplaceLeafValue(in, "Tx_R", "50", found);
    EXPECT_TRUE(found);
    EXPECT_NE(out.find("(p2999 1) (Tx_R 50)) "), std::string::npos);
}

}  // namespace
}  // namespace v10kx_ami_tx
