// The layout scan against the parser: the same texts accepted, the same lists and values found.
#include "framework/param_layout.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "framework/ami_exceptions.hpp"
#include "framework/ami_tree.hpp"

namespace {

using ts_ami::AmiNode;
using ts_ami::AmiTree;
using ts_ami::ParamLayout;

// The tree the parser would build, rebuilt from the layout's spans.
AmiTree TreeOf(const ParamLayout& layout, std::size_t index, const std::string& text) {
    const ParamLayout::List& list = layout.lists[index];
    AmiTree tree;
    tree.name = text.substr(list.name.begin, list.name.end - list.name.begin);
    for (const ParamLayout::Node& node : list.children) {
        const std::size_t length = node.span.end - node.span.begin;
        switch (node.kind) {
            case ParamLayout::Kind::List:
                tree.children.emplace_back(TreeOf(layout, node.list, text));
                break;
            case ParamLayout::Kind::Quoted:
                tree.children.emplace_back(text.substr(node.span.begin + 1, length - 2));
                break;
            case ParamLayout::Kind::Bare:
                tree.children.emplace_back(text.substr(node.span.begin, length));
                break;
            case ParamLayout::Kind::CommentOnly:
                tree.children.emplace_back(AmiTree());
                break;
        }
    }
    return tree;
}

// Lists, values and comments in the same order and with the same bytes.
std::string Describe(const AmiTree& tree) {
    std::string s = "(" + tree.name;
    for (const AmiNode& node : tree.children) {
        if (const auto* text = boost::get<std::string>(&node)) {
            s += " [" + *text + "]";
        } else {
            s += " " + Describe(boost::get<AmiTree>(node));
        }
    }
    return s + ")";
}

void ExpectSameAsParser(const std::string& text) {
    std::optional<AmiParamTree> parsed;
    try {
        parsed.emplace(text);
    } catch (const EFailedParse&) {
    }
    const std::optional<ParamLayout> layout = ts_ami::ScanParamLayout(text);
    ASSERT_EQ(layout.has_value(), parsed.has_value()) << "[" << text << "]";
    if (!layout) return;
    EXPECT_EQ(Describe(TreeOf(*layout, 0, text)), Describe(parsed->root)) << "[" << text << "]";
    // Spans point at what they name.
    EXPECT_EQ(text[layout->lists[0].whole.begin], '(');
    EXPECT_EQ(text[layout->lists[0].whole.end - 1], ')');
    for (const ParamLayout::List& list : layout->lists) {
        for (const ParamLayout::Node& node : list.children) {
            if (node.comment) {
                EXPECT_EQ(text[node.comment->end - 1], '\n');
            }
        }
    }
}

TEST(ScanParamLayout, AgreesWithTheParserOnHandPickedTexts) {
    for (const char* text : {
             "(Root (Vod 31) (Tap1 \"2\"))",
             "  (Root (Vod 31) )  \n",
             "(Root (Vod 31 ))",
             "(Root (Vod))",
             "(Root (a 1 (b 2)))",
             "(Root (Vod 31))(x 1)",
             "| c\n(Root)",
             "(Root (Name \"\"))",
             "(Root (a-b 1))",
             "(Root (a-b 1)",
             "(Root ((x)",
             "(Root | one\n| two\n)",
             "(Root | c\n (a 1) | d\n \"q\" | e\n)",
             "(Root (a \"x\"y \"z\" w))",
             "( Root ( a 1 ) )",
             "(Root (a \"unclosed))",
             "(Root (caf\xc3\xa9 1) (b caf\xc3\xa9) (c \"\xff\"))",
             "(Root |no line end)",
         }) {
        ExpectSameAsParser(text);
    }
}

TEST(ScanParamLayout, AgreesWithTheParserOnRandomTexts) {
    // Texts of the characters the grammar gives a meaning to, most of them starting as a list.
    const std::string alphabet[] = {"(", ")", "\"", "|",    "\n",  " ",   "\t", "a",   "b",
                                    "_", "1", "-",  "\xc3", "(a ", "(b ", ") ", "|x\n"};
    std::mt19937 random(20261209);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(alphabet) - 1);
    std::uniform_int_distribution<int> length(0, 24);
    int parsed = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string text = random() % 4 ? "(R " : "";
        for (int k = length(random); k > 0; --k) text += alphabet[pick(random)];
        if (random() % 2) text += ")";
        ExpectSameAsParser(text);
        if (HasFailure()) return;
        parsed += ts_ami::ScanParamLayout(text).has_value();
    }
    EXPECT_GT(parsed, 1000);  // the comparison covered accepted texts, not only refusals
}

TEST(ScanParamLayout, NestingLimitIsTheParsers) {
    std::string ok;
    for (std::size_t i = 0; i < ts_ami::kMaxListNesting; ++i) ok += "(a ";
    ok += "x";
    std::string deep = "(b " + ok + ")";
    ok += std::string(ts_ami::kMaxListNesting, ')');
    deep += std::string(ts_ami::kMaxListNesting, ')');
    ExpectSameAsParser(ok);
    ExpectSameAsParser(deep);
    EXPECT_TRUE(ts_ami::ScanParamLayout(ok).has_value());
    EXPECT_FALSE(ts_ami::ScanParamLayout(deep).has_value());
}

}  // namespace
