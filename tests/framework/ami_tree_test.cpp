// Parameter string grammar: what parses, what the tree holds, and the failure text.
#include "framework/ami_tree.hpp"

#include <gtest/gtest.h>

#include <string>

#include "framework/ami_exceptions.hpp"

namespace {

using ts_ami::AmiTree;

const AmiTree& ListAt(const AmiTree& t, std::size_t i) {
    return boost::get<AmiTree>(t.children.at(i));
}
const std::string& TextAt(const AmiTree& t, std::size_t i) {
    return boost::get<std::string>(t.children.at(i));
}
bool IsText(const AmiTree& t, std::size_t i) {
    return boost::get<std::string>(&t.children.at(i)) != nullptr;
}

std::string FailureText(const std::string& input) {
    try {
        AmiParamTree tree(input);
    } catch (const EFailedParse& e) {
        return e.GetText();
    }
    ADD_FAILURE() << "parsed: " << input;
    return {};
}

TEST(AmiParamTreeParse, RootWithBareAndQuotedValues) {
    AmiParamTree tree("(Root (Vod 31) (Tap1 \"2\"))");
    EXPECT_EQ(tree.rootName, "Root");
    EXPECT_EQ(tree.root.name, "Root");
    ASSERT_EQ(tree.root.children.size(), 2u);
    const AmiTree& vod = ListAt(tree.root, 0);
    EXPECT_EQ(vod.name, "Vod");
    ASSERT_EQ(vod.children.size(), 1u);
    EXPECT_EQ(TextAt(vod, 0), "31");
    EXPECT_EQ(ListAt(tree.root, 1).name, "Tap1");
    EXPECT_EQ(TextAt(ListAt(tree.root, 1), 0), "2");
}

TEST(AmiParamTreeParse, WhitespaceAroundTokensIsSkipped) {
    AmiParamTree spaced("  (Root (Vod 31) )  \n");
    EXPECT_EQ(TextAt(ListAt(spaced.root, 0), 0), "31");

    // All of tab, line feed, vertical tab, form feed and return count as whitespace.
    AmiParamTree controls("\v\f( Root\r\n(a\t1)\t)\r\n");
    EXPECT_EQ(controls.rootName, "Root");
    EXPECT_EQ(TextAt(ListAt(controls.root, 0), 0), "1");
}

TEST(AmiParamTreeParse, BareValueRunsToTheNextClosingParenthesis) {
    AmiParamTree trailing("(Root (Vod 31 ))");
    EXPECT_EQ(TextAt(ListAt(trailing.root, 0), 0), "31 ");  // kept until the value is read

    AmiParamTree taps("(Root (taps 1 2 3))");
    const AmiTree& t = ListAt(taps.root, 0);
    ASSERT_EQ(t.children.size(), 1u);
    EXPECT_EQ(TextAt(t, 0), "1 2 3");

    AmiParamTree mixed("(Root (v a \"b\" |c\n d))");
    EXPECT_EQ(TextAt(ListAt(mixed.root, 0), 0), "a \"b\" |c\n d");
}

TEST(AmiParamTreeParse, EmptyListHasNoChildren) {
    AmiParamTree tree("(Root (Vod))");
    EXPECT_TRUE(ListAt(tree.root, 0).children.empty());
    AmiParamTree bare("(Root)");
    EXPECT_TRUE(bare.root.children.empty());
}

TEST(AmiParamTreeParse, NestedListsAndSeveralValues) {
    AmiParamTree tree("(Root (debug (enable True) (dump 1)) (x \"a\" \"b c\" d e))");
    const AmiTree& debug = ListAt(tree.root, 0);
    ASSERT_EQ(debug.children.size(), 2u);
    EXPECT_EQ(ListAt(debug, 1).name, "dump");
    const AmiTree& x = ListAt(tree.root, 1);
    ASSERT_EQ(x.children.size(), 3u);
    EXPECT_EQ(TextAt(x, 0), "a");
    EXPECT_EQ(TextAt(x, 1), "b c");
    EXPECT_EQ(TextAt(x, 2), "d e");
}

TEST(AmiParamTreeParse, QuotedValueKeepsBlanksAndLineEndsAndHasNoEscape) {
    AmiParamTree tree("(Root (d \"a b\nc\") (e \"x\\\"y\"))");
    EXPECT_EQ(TextAt(ListAt(tree.root, 0), 0), "a b\nc");
    // The backslash does not escape: the quote after it ends the value, the rest is bare.
    const AmiTree& e = ListAt(tree.root, 1);
    ASSERT_EQ(e.children.size(), 2u);
    EXPECT_EQ(TextAt(e, 0), "x\\");
    EXPECT_EQ(TextAt(e, 1), "y\"");
}

TEST(AmiParamTreeParse, UnclosedQuoteIsABareValueWithNothingElse) {
    const AmiParamTree tree("(Root (a \"x y) (b 1))");
    EXPECT_EQ(TextAt(ListAt(tree.root, 0), 0), "\"x y");
    EXPECT_EQ(ListAt(tree.root, 1).name, "b");
}

TEST(AmiParamTreeParse, EmptyQuotesAreABareValue) {
    AmiParamTree tree("(Root (Name \"\"))");
    EXPECT_EQ(TextAt(ListAt(tree.root, 0), 0), "\"\"");
}

TEST(AmiParamTreeParse, ListIsTriedBeforeValue) {
    AmiParamTree tree("(Root (a (b 1) 2))");
    const AmiTree& a = ListAt(tree.root, 0);
    ASSERT_EQ(a.children.size(), 2u);
    EXPECT_FALSE(IsText(a, 0));
    EXPECT_EQ(ListAt(a, 0).name, "b");
    EXPECT_EQ(TextAt(a, 1), "2");
}

TEST(AmiParamTreeParse, ListThatFailsIsReadAgainAsBareValueWithoutLeftovers) {
    AmiParamTree tree("(Root (x (a-b 1))");
    const AmiTree& x = ListAt(tree.root, 0);
    ASSERT_EQ(x.children.size(), 1u);
    EXPECT_EQ(TextAt(x, 0), "(a-b 1");
}

TEST(AmiParamTreeParse, CommentAloneAddsAnEmptyList) {
    AmiParamTree tree("(Root |note\n)");
    ASSERT_EQ(tree.root.children.size(), 1u);
    ASSERT_FALSE(IsText(tree.root, 0));
    EXPECT_TRUE(ListAt(tree.root, 0).name.empty());
    EXPECT_TRUE(ListAt(tree.root, 0).children.empty());
}

TEST(AmiParamTreeParse, CommentFollowedByListOrValueAddsOnlyThat) {
    AmiParamTree list("(Root |note\n(a 1) |more\n 7)");
    ASSERT_EQ(list.root.children.size(), 2u);
    EXPECT_EQ(ListAt(list.root, 0).name, "a");
    EXPECT_EQ(TextAt(list.root, 1), "7");
}

TEST(AmiParamTreeParse, SecondCommentIsReadAsBareValue) {
    AmiParamTree tree("(Root |one\n|two\n)");
    ASSERT_EQ(tree.root.children.size(), 1u);
    EXPECT_EQ(TextAt(tree.root, 0), "|two\n");
}

TEST(AmiParamTreeParse, CommentNeedsItsLineFeed) {
    AmiParamTree tree("(Root |no line end)");
    EXPECT_EQ(TextAt(tree.root, 0), "|no line end");
}

TEST(AmiParamTreeFailure, BareValueSwallowsNestedListAndLeavesParenthesis) {
    const std::string in = "(Root (a 1 (b 2)))";
    EXPECT_EQ(FailureText(in), "Parse failed at: )\nin: " + in);
}

TEST(AmiParamTreeFailure, TextAfterRootList) {
    const std::string in = "(Root (Vod 31))(x 1)";
    EXPECT_EQ(FailureText(in), "Parse failed at: (x 1)\nin: " + in);
    const std::string spaced = "(Root (Vod 31))  \n junk ";
    EXPECT_EQ(FailureText(spaced), "Parse failed at: junk \nin: " + spaced);
}

TEST(AmiParamTreeFailure, RootListThatDoesNotMatchFailsAtTheStart) {
    for (const std::string in :
         {"| comment\n(Root (a 1))", "", "   ", "Root", "(Root (a 1)", "()", "( (a 1))"}) {
        EXPECT_EQ(FailureText(in), "Parse failed at: " + in + "\nin: " + in) << in;
    }
}

TEST(AmiParamTreeFailure, NameMustBeAWholeWordOfLettersDigitsUnderscores) {
    EXPECT_EQ(FailureText("(Root (a-b 1))"), "Parse failed at: )\nin: (Root (a-b 1))");
    EXPECT_EQ(FailureText("(Root (a.b 1))"), "Parse failed at: )\nin: (Root (a.b 1))");
    EXPECT_NO_THROW(AmiParamTree("(Root_2 (a_B9 1))"));
    EXPECT_NO_THROW(AmiParamTree("(Root (Tap1\"2\"))"));
}

TEST(AmiParamTreeParse, BytesAbove127StandInValuesAndComments) {
    const AmiParamTree bare("(Root (a caf\xc3\xa9))");
    EXPECT_EQ(TextAt(ListAt(bare.root, 0), 0), "caf\xc3\xa9");
    const AmiParamTree quoted("(Root (DLL_Path \"/home/jos\xc3\xa9/kit \xff\"))");
    EXPECT_EQ(TextAt(ListAt(quoted.root, 0), 0), "/home/jos\xc3\xa9/kit \xff");
    const AmiParamTree commented("(Root |\xc3\xa9\x80\n (b 1))");
    ASSERT_EQ(commented.root.children.size(), 1u);
    EXPECT_EQ(ListAt(commented.root, 0).name, "b");
}

TEST(AmiParamTreeFailure, NamesStayAscii) {
    const std::string in = "(Root (caf\xc3\xa9 1))";
    EXPECT_EQ(FailureText(in), "Parse failed at: )\nin: " + in);
    EXPECT_THROW(AmiParamTree("(R\xc3\xa9 (a 1))"), EFailedParse);
}

std::string Nested(int depth) {
    std::string s;
    for (int i = 0; i < depth; ++i) s += "(a" + std::to_string(i) + " ";
    s += "x";
    for (int i = 0; i < depth; ++i) s += ")";
    return s;
}

// Lists that never close, nested and repeated: every enclosing list falls back on a bare value
// and reads the rest again. A parser that re-reads each failed list does not finish this in a
// lifetime (each repetition more than doubles the work); it must fail at once, at the start.
TEST(AmiParamTreeFailure, UnclosedNestedListsFailWithoutEndlessBacktracking) {
    std::string in = "(R ";
    for (int i = 0; i < 40; ++i) in += "(a(b(c x) ";
    in += ")";
    EXPECT_EQ(FailureText(in), "Parse failed at: " + in + "\nin: " + in);
}

TEST(AmiParamTreeFailure, DeepNestingIsRefusedNotOverflowed) {
    EXPECT_NO_THROW(AmiParamTree(Nested(100)));
    const std::string deep = Nested(101);
    const std::string expectedRest = deep.substr(deep.find("(a100 "));
    EXPECT_EQ(FailureText(deep), "Parse failed at: " + expectedRest + "\nin: " + deep);
    EXPECT_THROW(AmiParamTree(Nested(200000)), EFailedParse);
}

}  // namespace
