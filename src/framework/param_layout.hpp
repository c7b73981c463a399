#pragma once
// Where the pieces of a parameter string stand: every list with its name, every value and
// every comment with its exact bytes. For whatever rewrites a parameter string in place and must
// leave everything it does not change byte for byte. The scan follows the grammar of
// ami_grammar.hpp rule for rule, so it finds exactly the lists, values and comments the parser
// finds; a text the parser refuses has no layout.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace ts_ami {

// Deepest nesting of lists either reader accepts: deep enough for any real parameter string,
// shallow enough that the recursive descent stays far from the end of a simulator thread's
// stack.
inline constexpr std::size_t kMaxListNesting = 100;

// Half-open byte range [begin, end) of the scanned text.
struct TextSpan {
    std::size_t begin = 0;
    std::size_t end = 0;
};

struct ParamLayout {
    enum class Kind {
        List,         // a nested list: `list` is its index in `lists`
        Quoted,       // a quoted value; `span` includes both quotes
        Bare,         // a bare value; `span` runs up to the closing parenthesis of its list
        CommentOnly,  // a comment standing alone (the parser adds an empty list for it)
    };
    struct Node {
        Kind kind = Kind::CommentOnly;
        std::optional<TextSpan> comment;  // "|" to the line feed, inclusive, when one leads
        TextSpan span;                    // the list, the value, or the lone comment
        std::size_t list = 0;
    };
    struct List {
        TextSpan whole;  // from its "(" to its ")", inclusive
        TextSpan name;
        std::vector<Node> children;
    };
    std::vector<List> lists;  // lists[0] is the root; a list comes before the lists inside it
};

// The layout of `text`, or nothing when the parser would refuse it.
std::optional<ParamLayout> ScanParamLayout(const std::string& text);

}  // namespace ts_ami
