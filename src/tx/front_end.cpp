#include "tx/front_end.hpp"

#include <algorithm>
#include <optional>
#include <sstream>
#include <vector>

#include "framework/ami_exceptions.hpp"
#include "framework/ami_tree.hpp"
#include "framework/param_layout.hpp"
#include "framework/param_queries.hpp"
#include "tx/text_lines.hpp"

namespace v10kx_ami_tx {

namespace {

// Source resistance by termination (row: 100 ohm, 85 ohm) and corner (0 typical, 1 fast, 2 slow).
constexpr double kTxR[2][3] = {{50, 46, 52.5}, {43, 40, 45.5}};
constexpr const char* kCornerCode[3] = {"tt", "ff", "ss"};

bool Leaf(const AmiParamTree* tree, const char* name, std::string& value) {
    return tree && LookUpParam(*tree, {name}, value) == 0;
}

std::string FormatDouble(double v) {
    std::ostringstream out;
    out << v;
    return out.str();
}

bool IsFrontEndLeaf(const ts_ami::AmiTree& list) {
    return list.name == "Tx_R" || list.name == "Tstonefile";
}

// Every list and text below `tree` with the path of list names above it, in order, except what
// resolution sets: the first value of every Tx_R and Tstonefile list, and which of them the root
// holds.
void CollectUntouched(const ts_ami::AmiTree& tree, const std::string& path, bool isRoot,
                      std::vector<std::string>& out) {
    for (std::size_t i = 0; i < tree.children.size(); ++i) {
        const ts_ami::AmiNode& node = tree.children[i];
        if (const auto* text = boost::get<std::string>(&node)) {
            if (!(i == 0 && IsFrontEndLeaf(tree))) out.push_back(path + " = " + *text);
            continue;
        }
        const ts_ami::AmiTree& list = boost::get<ts_ami::AmiTree>(node);
        const std::string below = path + "/" + list.name;
        if (!(isRoot && IsFrontEndLeaf(list))) out.push_back(below);
        CollectUntouched(list, below, false, out);
    }
}

std::vector<std::string> Untouched(const ts_ami::AmiTree& root) {
    std::vector<std::string> out;
    CollectUntouched(root, root.name, true, out);
    return out;
}

}  // namespace

FrontEnd SelectFrontEnd(const AmiParamTree* tree) {
    std::string value;
    const bool rterm85 = Leaf(tree, "rterm", value) && value == "85";
    int corner = 0;
    if (Leaf(tree, "corner", value)) corner = value == "0" ? 0 : (value == "2" ? 2 : 1);
    const double slew = Leaf(tree, "slew", value) ? ParseLenient(value) : 0.0;

    FrontEnd fe;
    fe.txR = kTxR[rterm85 ? 1 : 0][corner];
    // Settings 0..5 (after truncation) pick one of six slew variants; anything else the default.
    if (slew > -1.0 && slew < 6.0) {
        const int index = static_cast<int>(slew) + 1;
        fe.touchstoneFile =
            std::string("v10tx_afe_") + kCornerCode[corner] + "_" + std::to_string(index) + ".s4p";
    } else {
        fe.touchstoneFile = "v10tx_afe_tt_1.s4p";
    }
    return fe;
}

std::string ResolveFrontEnd(const AmiParamTree* tree, const std::string& text) {
    const FrontEnd fe = SelectFrontEnd(tree);
    const std::string txR = FormatDouble(fe.txR);
    // A leaf only nested deeper is set as well, and the root still gets its own. Where nothing
    // was set the replacement is the text itself.
    bool found = false;
    std::string t = ReplaceLeafValue(text, "Tx_R", txR, found);
    if (!found) t = AppendLeaf(t, "Tx_R", txR);
    const std::string quoted = "\"" + fe.touchstoneFile + "\"";
    std::string r = ReplaceLeafValue(t, "Tstonefile", quoted, found);
    if (!found) r = AppendLeaf(r, "Tstonefile", quoted);

    // The simulator gets the string only when it reads back with the two values in place and
    // everything else as it was; otherwise AMI_Resolve returns 0 rather than hand out a string
    // that says something else.
    const AmiParamTree check(r);
    std::string value;
    if (LookUpParam(check, {"Tx_R"}, value) != 0 || value != txR ||
        LookUpParam(check, {"Tstonefile"}, value) != 0 || value != fe.touchstoneFile ||
        (tree && Untouched(check.root) != Untouched(tree->root))) {
        throw AmiException("The resolved parameter string does not read back as written.");
    }
    return r;
}

namespace {

bool IsBlank(char c) { return (c >= 9 && c <= 13) || c == ' '; }

bool IsQuoted(const std::string& value) {
    return value.size() >= 2 && value.front() == '"' && value.back() == '"';
}

// `value` as the grammar reads it back when other elements follow it in the same list: a bare
// value would run on to the list's closing parenthesis and swallow them, a quoted one stops.
std::string Standalone(const std::string& value) {
    return IsQuoted(value) ? value : "\"" + value + "\"";
}

// The same value read back from a bare value, the last element of its list.
std::string Bare(const std::string& value) {
    return IsQuoted(value) ? value.substr(1, value.size() - 2) : value;
}

// Where the first bare value opening with a quote that the text never closes starts. It stays a
// bare value only as long as no double quote follows it anywhere: a quote written after it
// would close it and turn everything in between into one quoted value.
std::size_t FirstUnclosedQuote(const ts_ami::ParamLayout& layout, const std::string& text) {
    std::size_t first = std::string::npos;
    for (const ts_ami::ParamLayout::List& list : layout.lists) {
        for (const ts_ami::ParamLayout::Node& node : list.children) {
            const std::size_t b = node.span.begin;
            // Two quotes at the start are an empty quoted value, which no later quote completes.
            if (node.kind == ts_ami::ParamLayout::Kind::Bare && text[b] == '"' &&
                !(b + 1 < text.size() && text[b + 1] == '"')) {
                first = std::min(first, b);
            }
        }
    }
    return first;
}

struct Edit {
    ts_ami::TextSpan span;  // replaced bytes; empty for an insertion
    std::string text;
};

}  // namespace

std::string ReplaceLeafValue(const std::string& text, const std::string& name,
                             const std::string& value, bool& found) {
    found = false;
    const std::optional<ts_ami::ParamLayout> layout = ts_ami::ScanParamLayout(text);
    if (!layout) return text;  // without its structure nothing can be told apart safely

    using Kind = ts_ami::ParamLayout::Kind;
    // Only a leaf directly under the root is where a query finds it.
    std::vector<bool> underRoot(layout->lists.size(), false);
    for (const ts_ami::ParamLayout::Node& node : layout->lists[0].children) {
        if (node.kind == Kind::List) underRoot[node.list] = true;
    }
    const std::size_t noQuotesFrom = FirstUnclosedQuote(*layout, text);
    std::vector<Edit> edits;
    std::vector<ts_ami::TextSpan> verbatim;  // values and comments: their bytes stay as written
    for (std::size_t index = 0; index < layout->lists.size(); ++index) {
        const ts_ami::ParamLayout::List& list = layout->lists[index];
        for (const ts_ami::ParamLayout::Node& node : list.children) {
            if (node.comment) verbatim.push_back(*node.comment);
            if (node.kind == Kind::Quoted || node.kind == Kind::Bare) verbatim.push_back(node.span);
        }
        const std::size_t nameLength = list.name.end - list.name.begin;
        if (text.compare(list.name.begin, nameLength, name) != 0) continue;
        if (underRoot[index]) found = true;
        const std::vector<ts_ami::ParamLayout::Node>& children = list.children;
        // The value a query reads is the first element; whatever follows it stays. (Past an
        // unclosed quote nothing but lists and bare values follows, so a bare value serves.)
        if (!children.empty() &&
            (children[0].kind == Kind::Quoted || children[0].kind == Kind::Bare)) {
            const bool last = children.size() == 1;
            const std::size_t at = children[0].span.begin;
            edits.push_back({children[0].span, !last               ? Standalone(value)
                                               : at < noQuotesFrom ? value
                                                                   : Bare(value)});
        } else {
            const std::size_t at = list.name.end;
            edits.push_back({{at, at},
                             " " + (!children.empty()   ? Standalone(value)
                                    : at < noQuotesFrom ? value
                                                        : Bare(value))});
        }
    }
    if (edits.empty()) return text;

    // The lists come in the order they open, and an edit lies inside its own list's head or
    // first value, so sorting by position leaves no two overlapping.
    std::sort(edits.begin(), edits.end(),
              [](const Edit& a, const Edit& b) { return a.span.begin < b.span.begin; });
    std::sort(
        verbatim.begin(), verbatim.end(),
        [](const ts_ami::TextSpan& a, const ts_ami::TextSpan& b) { return a.begin < b.begin; });

    // Blanks between tokens become single blanks, the result ends with one; values and comments
    // (line ends included) are copied as they stand.
    std::string result;
    result.reserve(text.size() + 64);
    std::size_t nextEdit = 0;
    std::size_t nextVerbatim = 0;
    bool blankPending = false;
    auto emit = [&](const std::string& piece) {
        if (blankPending && !result.empty()) result += ' ';
        blankPending = false;
        result += piece;
    };
    std::size_t i = 0;
    while (i < text.size()) {
        if (nextEdit < edits.size() && edits[nextEdit].span.begin == i) {
            const Edit& e = edits[nextEdit++];
            emit(e.text);
            while (nextVerbatim < verbatim.size() && verbatim[nextVerbatim].begin < e.span.end)
                ++nextVerbatim;
            i = std::max(i, e.span.end);
            continue;
        }
        if (nextVerbatim < verbatim.size() && verbatim[nextVerbatim].begin == i) {
            const ts_ami::TextSpan span = verbatim[nextVerbatim++];
            emit(text.substr(span.begin, span.end - span.begin));
            i = span.end;
            continue;
        }
        if (IsBlank(text[i])) {
            blankPending = true;
            ++i;
            continue;
        }
        emit(std::string(1, text[i]));
        ++i;
    }
    result += ' ';
    return result;
}

std::string AppendLeaf(const std::string& text, const std::string& name, const std::string& value) {
    const std::size_t last = text.rfind(')');
    if (last == std::string::npos) return {};
    std::size_t at = last;
    std::size_t noQuotesFrom = std::string::npos;
    // A bare value always ends its list: a leaf written after it would become part of it. A
    // comment at the end would lead the leaf instead of standing alone. Either way the leaf goes
    // in front.
    if (const std::optional<ts_ami::ParamLayout> layout = ts_ami::ScanParamLayout(text)) {
        using Kind = ts_ami::ParamLayout::Kind;
        noQuotesFrom = FirstUnclosedQuote(*layout, text);
        const std::vector<ts_ami::ParamLayout::Node>& rootChildren = layout->lists[0].children;
        if (!rootChildren.empty() && (rootChildren.back().kind == Kind::Bare ||
                                      rootChildren.back().kind == Kind::CommentOnly)) {
            const ts_ami::ParamLayout::Node& final = rootChildren.back();
            at = final.comment ? final.comment->begin : final.span.begin;
        }
    }
    const std::string leaf = "(" + name + " " + (at < noQuotesFrom ? value : Bare(value)) + ")";
    if (at != last) return text.substr(0, at) + leaf + " " + text.substr(at);
    std::string result = text.substr(0, last);
    if (last > 0 && text[last - 1] != ' ') result += ' ';
    result += leaf + ")";
    return result;
}

}  // namespace v10kx_ami_tx
