// AMI_Resolve: the front-end resistance and Touchstone file written into the parameter string.
#include "tx/front_end.hpp"

#include <boost/variant/get.hpp>
#include <cstring>
#include <memory>
#include <vector>

#include "framework/ami_exceptions.hpp"
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

TEST(ReplaceLeafValue, TextThatDoesNotParseComesBackUnchanged) {
    bool found = true;
    EXPECT_EQ(ReplaceLeafValue("(a (Tx_R", "Tx_R", "1", found), "(a (Tx_R");
    EXPECT_FALSE(found);
    EXPECT_EQ(AppendLeaf("no closer", "Tx_R", "1"), "");
    EXPECT_EQ(AppendLeaf("(a (b 1) )", "n", "v"), "(a (b 1) (n v))");
}

// Every list and text element of `tree` with the names of the lists above it, in order, leaving
// out the first value of every Tx_R and Tstonefile list and whether the root holds such lists:
// what AMI_Resolve must hand back exactly as it was given.
void CollectOtherValues(const ts_ami::AmiTree& tree, const std::string& path, bool isRoot,
                        std::vector<std::string>& out) {
    const bool resolved = tree.name == "Tx_R" || tree.name == "Tstonefile";
    for (std::size_t i = 0; i < tree.children.size(); ++i) {
        const ts_ami::AmiNode& node = tree.children[i];
        if (const auto* text = boost::get<std::string>(&node)) {
            if (!(resolved && i == 0)) out.push_back(path + " = [" + *text + "]");
            continue;
        }
        const ts_ami::AmiTree& list = boost::get<ts_ami::AmiTree>(node);
        // The root's own leaves may be new; what they hold after their value may not.
        if (!(isRoot && (list.name == "Tx_R" || list.name == "Tstonefile")))
            out.push_back(path + "/" + list.name);
        CollectOtherValues(list, path + "/" + list.name, false, out);
    }
}

std::vector<std::string> OtherValues(const AmiParamTree& tree) {
    std::vector<std::string> values;
    CollectOtherValues(tree.root, tree.rootName, true, values);
    return values;
}

// The first value of every list named `name`, at any depth.
void CollectLeaves(const ts_ami::AmiTree& tree, const std::string& name,
                   std::vector<std::string>& out) {
    if (tree.name == name) {
        const auto* text =
            tree.children.empty() ? nullptr : boost::get<std::string>(&tree.children[0]);
        out.push_back(text ? *text : "<no value>");
    }
    for (const ts_ami::AmiNode& node : tree.children) {
        if (const auto* list = boost::get<ts_ami::AmiTree>(&node)) CollectLeaves(*list, name, out);
    }
}

TEST(AmiResolve, ResultParsesAgainAndKeepsEveryOtherValueByteForByte) {
    const struct {
        const char* in;
        const char* txR;   // expected from the resistance table by rterm and corner
        const char* file;  // expected from the file table by corner and slew
    } cases[] = {
        // A comment keeps its line end, or it would swallow the rest of the string.
        {"(Vanta10_Tx | front end\n (Tx_R 12) (corner 1)\n | slew next\n (slew 2))", "46",
         "v10tx_afe_ff_3.s4p"},
        {"(Vanta10_Tx (rterm 85) | note (Tx_R 3)\n)", "43", "v10tx_afe_tt_1.s4p"},
        // A blank after the parenthesis is legal before a name.
        {"(Vanta10_Tx ( Tx_R 50) (rterm 85))", "43", "v10tx_afe_tt_1.s4p"},
        // Names inside a quoted value are text, not lists.
        {"(Vanta10_Tx (Description \"sets Tx_R from rterm\") (rterm 85))", "43",
         "v10tx_afe_tt_1.s4p"},
        {"(Vanta10_Tx (Tstonefile \"C:/Program Files/afe.s4p\") (corner 2))", "52.5",
         "v10tx_afe_ss_1.s4p"},
        // Lists glued together stay apart.
        {"(Vanta10_Tx (corner 1) (Tx_R 50)(Tstonefile \"a.s4p\"))", "46", "v10tx_afe_ff_1.s4p"},
        {"(Vanta10_Tx (corner 2)(Tx_R 1)(slew 5)\n)", "52.5", "v10tx_afe_ss_6.s4p"},
        // Blanks and line ends inside values are part of them.
        {"(Vanta10_Tx (Database_Path \"/my  data\") (Tx_R 1))", "50", "v10tx_afe_tt_1.s4p"},
        {"(Vanta10_Tx (taps 1  2\n\t3 ) (Tstonefile \"x\"))", "50", "v10tx_afe_tt_1.s4p"},
        {"(Vanta10_Tx (DLL_Path \"/home/jos\xc3\xa9/kit\") (corner 0))", "50",
         "v10tx_afe_tt_1.s4p"},
        // The root ends in a bare value: the leaves go in front of it.
        {"(Vanta10_Tx (corner 1) free (a b text)", "46", "v10tx_afe_ff_1.s4p"},
        // Other elements after the replaced value, or no value at all.
        {"(Vanta10_Tx (Tx_R \"7\" \"kept\") (Tstonefile \"a\" (x 1)))", "50", "v10tx_afe_tt_1.s4p"},
        {"(Vanta10_Tx (Tx_R) (Tstonefile (x 1)) (corner 2))", "52.5", "v10tx_afe_ss_1.s4p"},
        {"(Vanta10_Tx (Tx_R | nothing yet\n) (rterm 85))", "43", "v10tx_afe_tt_1.s4p"},
        // A bare value opening with a quote nothing closes: a quote written after it would
        // close it, so what follows it is written without quotes.
        {"(Vanta10_Tx (Tsto1efile \"C:/Program Files/afe.s4p\") (Database_Pa\") (corner 2))",
         "52.5", "v10tx_afe_ss_1.s4p"},
        {"(Vanta10_Tx (n \"x y) (Tx_R 3) (slew 1))", "50", "v10tx_afe_tt_2.s4p"},
        // Every occurrence, nested ones too.
        {"(Vanta10_Tx (group (Tx_R 9) (Tstonefile \"b\")) (Tx_R 8))", "50", "v10tx_afe_tt_1.s4p"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        const AmiParamTree in(c.in);
        const auto [rc, out] = Resolve(c.in);
        EXPECT_EQ(rc, 1);
        std::unique_ptr<AmiParamTree> resolved;
        try {
            resolved = std::make_unique<AmiParamTree>(out);
        } catch (const AmiException& e) {
            ADD_FAILURE() << e.GetText();
            continue;
        }
        EXPECT_EQ(OtherValues(*resolved), OtherValues(in)) << out;

        std::string value;
        EXPECT_EQ(resolved->GetLeaf({"Vanta10_Tx", "Tx_R"}, value), 0) << out;
        EXPECT_EQ(value, c.txR) << out;
        value.clear();
        EXPECT_EQ(resolved->GetLeaf({"Vanta10_Tx", "Tstonefile"}, value), 0) << out;
        EXPECT_EQ(value, c.file) << out;
        std::vector<std::string> leaves;
        CollectLeaves(resolved->root, "Tx_R", leaves);
        for (const std::string& leaf : leaves) EXPECT_EQ(leaf, c.txR) << out;
        leaves.clear();
        CollectLeaves(resolved->root, "Tstonefile", leaves);
        for (const std::string& leaf : leaves) EXPECT_EQ(leaf, c.file) << out;
    }
}

TEST(AmiResolve, StringThatCannotBeRewrittenSoundlyIsRefused) {
    // The value would have to stand in front of the list (x 1) and past the unclosed quote: it
    // could be written neither bare nor quoted.
    const auto [rc, out] = Resolve("(Vanta10_Tx (n \") (Tstonefile (x 1)))");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out, "<unwritten>");
}

TEST(AmiResolve, BlanksBetweenTokensBecomeSingleBlanksOutsideValuesAndComments) {
    const auto [rc, out] =
        Resolve("(Vanta10_Tx\n\t(Tx_R   1)  | keep  this\n  (p \"a  b\")\n(q x  y\n))");
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(out,
              "(Vanta10_Tx (Tx_R 50) | keep  this\n (p \"a  b\") (q x  y\n) (Tstonefile "
              "\"v10tx_afe_tt_1.s4p\"))");
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
