#include "tx/front_end.hpp"

#include <algorithm>
#include <optional>
#include <sstream>
#include <vector>

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
    return r;
}

namespace {

bool IsBlank(char c) { return (c >= 9 && c <= 13) || c == ' '; }

// `value` as the grammar reads it back when other elements follow it in the same list: a bare
// value would run on to the list's closing parenthesis and swallow them, a quoted one stops.
std::string Standalone(const std::string& value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') return value;
    return "\"" + value + "\"";
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
        if (!children.empty() &&
            (children[0].kind == Kind::Quoted || children[0].kind == Kind::Bare)) {
            // The value a query reads is the first element; whatever follows it stays.
            edits.push_back({children[0].span, children.size() > 1 ? Standalone(value) : value});
        } else {
            edits.push_back({{list.name.end, list.name.end},
                             " " + (children.empty() ? value : Standalone(value))});
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
    const std::string leaf = "(" + name + " " + value + ")";
    // A bare value always ends its list: a leaf written after it would become part of it. A
    // comment at the end would lead the leaf instead of standing alone. Either way the leaf goes
    // in front.
    if (const std::optional<ts_ami::ParamLayout> layout = ts_ami::ScanParamLayout(text)) {
        using Kind = ts_ami::ParamLayout::Kind;
        const std::vector<ts_ami::ParamLayout::Node>& rootChildren = layout->lists[0].children;
        if (!rootChildren.empty() && (rootChildren.back().kind == Kind::Bare ||
                                      rootChildren.back().kind == Kind::CommentOnly)) {
            const ts_ami::ParamLayout::Node& last = rootChildren.back();
            const std::size_t at = last.comment ? last.comment->begin : last.span.begin;
            return text.substr(0, at) + leaf + " " + text.substr(at);
        }
    }
    const std::size_t last = text.rfind(')');
    if (last == std::string::npos) return {};
    std::string result = text.substr(0, last);
    if (last > 0 && text[last - 1] != ' ') result += ' ';
    result += leaf + ")";
    return result;
}

}  // namespace v10kx_ami_tx
