// Path queries on the parse tree and the conversions of value texts.
#include <gtest/gtest.h>

#include "framework/ami_tree.hpp"
#include "framework/param_queries.hpp"

namespace {

TEST(GetLeaf, FindsNestedValueAndTrimsOnlyBlanksAndTabs) {
    AmiParamTree tree("(Root (debug (enable \t True \t)) (q \"  x y\n\") (n \"\tz\"))");
    std::string v;
    EXPECT_EQ(tree.GetLeaf({"Root", "debug", "enable"}, v), 0);
    EXPECT_EQ(v, "True");
    EXPECT_EQ(tree.GetLeaf({"Root", "q"}, v), 0);
    EXPECT_EQ(v, "x y\n");  // the line end stays
    EXPECT_EQ(tree.GetLeaf({"Root", "n"}, v), 0);
    EXPECT_EQ(v, "z");
}

TEST(GetLeaf, RootNameIsCaseSensitive) {
    AmiParamTree tree("(Root (a 1))");
    std::string v = "untouched";
    EXPECT_EQ(tree.GetLeaf({"root", "a"}, v), 1);
    EXPECT_EQ(v, "untouched");
}

TEST(GetLeaf, MissingNameReturns2AndLeavesValueAlone) {
    AmiParamTree tree("(Root (a 1) (b (c 2)))");
    std::string v = "untouched";
    EXPECT_EQ(tree.GetLeaf({"Root", "z"}, v), 2);
    EXPECT_EQ(tree.GetLeaf({"Root", "b", "z"}, v), 2);
    EXPECT_EQ(tree.GetLeaf({"Root", "a", "c"}, v), 2);  // a holds only text
    EXPECT_EQ(tree.GetLeaf({"Root", "A"}, v), 2);
    EXPECT_EQ(v, "untouched");
}

TEST(GetLeaf, OnlyTheFirstOfTwoSiblingsIsSearched) {
    AmiParamTree tree("(Root (g (x 1)) (g (y 2)) (a 3) (a 4))");
    std::string v;
    EXPECT_EQ(tree.GetLeaf({"Root", "g", "x"}, v), 0);
    EXPECT_EQ(v, "1");
    EXPECT_EQ(tree.GetLeaf({"Root", "g", "y"}, v), 2);
    EXPECT_EQ(tree.GetLeaf({"Root", "a"}, v), 0);
    EXPECT_EQ(v, "3");
}

TEST(GetLeaf, ListWithoutLeadingTextGivesEmptyValue) {
    AmiParamTree tree("(Root (e) (l (x 1) tail) |c\n)");
    std::string v = "old";
    EXPECT_EQ(tree.GetLeaf({"Root", "e"}, v), 0);
    EXPECT_EQ(v, "");
    v = "old";
    EXPECT_EQ(tree.GetLeaf({"Root", "l"}, v), 0);
    EXPECT_EQ(v, "");
    // The empty list left by a lone comment has an empty name and is not reachable by one.
    EXPECT_EQ(tree.GetLeaf({"Root", ""}, v), 0);
}

TEST(GetLeaf, PathsTooShortToNameALeafAreNotFound) {
    AmiParamTree tree("(Root (a 1))");
    std::string v;
    EXPECT_EQ(tree.GetLeaf({"Root"}, v), 2);
    EXPECT_EQ(tree.GetLeaf({}, v), 1);
}

TEST(ParseBool, IntegersAndTheTwoSpellingsOfTrue) {
    for (const char* t :
         {"1", "5", "-2", " 7", "3abc", "99999999999", "True", "true", "  true  ", "true yes"}) {
        EXPECT_TRUE(ParseBool(t)) << t;
    }
    for (const char* t :
         {"0", "TRUE", "False", "false", "yes", "", "   ", "0 true", "Truely", "\"true\""}) {
        EXPECT_FALSE(ParseBool(t)) << t;
    }
}

TEST(ScanInt, BehavesLikePercentD) {
    int v = -99;
    EXPECT_TRUE(ScanInt("  \n-12xyz", v));
    EXPECT_EQ(v, -12);
    EXPECT_TRUE(ScanInt("+7", v));
    EXPECT_EQ(v, 7);
    EXPECT_TRUE(ScanInt("-2147483648", v));
    EXPECT_EQ(v, -2147483647 - 1);
    v = 5;
    for (const char* t : {"", "x1", "- 1", "+"}) EXPECT_FALSE(ScanInt(t, v)) << t;
    EXPECT_EQ(v, 5);
}

TEST(ScanInt, NumbersBeyondIntSaturateInsteadOfWrapping) {
    // 2^32 and 2^32 + 1 would wrap round to 0 and 1.
    for (const char* t : {"2147483648", "4294967296", "4294967297x", "99999999999999999999999",
                          "+9223372036854775808"}) {
        EXPECT_EQ(ScanInt(t), std::optional<int>(2147483647)) << t;
    }
    for (const char* t : {"-2147483649", " -4294967296", "-99999999999999999999999"}) {
        EXPECT_EQ(ScanInt(t), std::optional<int>(-2147483647 - 1)) << t;
    }
    EXPECT_EQ(ScanIntOr("5000000000", 3), 2147483647);
}

}  // namespace
