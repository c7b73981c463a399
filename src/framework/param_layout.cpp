// A recursive-descent scan with the parser's own choices: ordered alternatives, greedy
// repetition, the same whitespace, the same nesting limit, and the same memory of lists that
// failed to close (which keeps pathological texts from taking exponential time).
#include "framework/param_layout.hpp"

#include <map>

namespace ts_ami {
namespace {

bool IsBlank(unsigned char c) { return (c >= 9 && c <= 13) || c == ' '; }

bool IsNameChar(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// What may follow a name: the start of the next token, or the end of the text.
bool EndsName(unsigned char c) {
    return IsBlank(c) || c == '(' || c == ')' || c == '"' || c == '|';
}

struct TooDeep {};

class Scanner {
  public:
    explicit Scanner(const std::string& text) : t_(text), n_(text.size()) {}

    std::optional<ParamLayout> Root() {
        std::size_t end = 0;
        std::size_t index = 0;
        try {
            if (!Tree(0, end, index)) return std::nullopt;
        } catch (const TooDeep&) {
            return std::nullopt;
        }
        if (Skip(end) != n_) return std::nullopt;
        return std::move(layout_);
    }

  private:
    using Kind = ParamLayout::Kind;

    std::size_t Skip(std::size_t p) const {
        while (p < n_ && IsBlank(static_cast<unsigned char>(t_[p]))) ++p;
        return p;
    }

    bool Tree(std::size_t from, std::size_t& end, std::size_t& index) {
        const std::size_t open = Skip(from);
        if (open >= n_ || t_[open] != '(') return false;
        const auto known = failed_.find(open);
        if (known != failed_.end() && nesting_ <= known->second) return false;

        const std::size_t nameBegin = Skip(open + 1);
        std::size_t p = nameBegin;
        while (p < n_ && IsNameChar(static_cast<unsigned char>(t_[p]))) ++p;
        if (p == nameBegin || (p < n_ && !EndsName(static_cast<unsigned char>(t_[p])))) {
            return false;
        }
        if (++nesting_ > kMaxListNesting) throw TooDeep{};

        const std::size_t mine = layout_.lists.size();
        layout_.lists.push_back({{open, open}, {nameBegin, p}, {}});
        std::vector<ParamLayout::Node> children;
        ParamLayout::Node node;
        std::size_t next = 0;
        while (Node(p, node, next)) {
            children.push_back(node);
            p = next;
        }
        const std::size_t close = Skip(p);
        --nesting_;
        if (close < n_ && t_[close] == ')') {
            layout_.lists[mine].whole.end = close + 1;
            layout_.lists[mine].children = std::move(children);
            end = close + 1;
            index = mine;
            return true;
        }
        failed_[open] = nesting_;
        layout_.lists.resize(mine);  // with every list found inside this one
        return false;
    }

    bool Comment(std::size_t from, TextSpan& span) const {
        const std::size_t bar = Skip(from);
        if (bar >= n_ || t_[bar] != '|') return false;
        const std::size_t lineEnd = t_.find('\n', bar + 1);
        if (lineEnd == std::string::npos) return false;
        span = {bar, lineEnd + 1};
        return true;
    }

    bool Value(std::size_t from, ParamLayout::Node& node) const {
        const std::size_t first = Skip(from);
        if (first >= n_) return false;
        if (t_[first] == '"') {
            const std::size_t quote = t_.find('"', first + 1);
            if (quote != std::string::npos && quote > first + 1) {
                node.kind = Kind::Quoted;
                node.span = {first, quote + 1};
                return true;
            }
        }
        std::size_t p = first;
        while (p < n_ && t_[p] != ')') ++p;
        if (p == first) return false;
        node.kind = Kind::Bare;
        node.span = {first, p};
        return true;
    }

    // A comment is tried first; after it a list, a value, or nothing more.
    bool Node(std::size_t from, ParamLayout::Node& node, std::size_t& end) {
        node = ParamLayout::Node{};
        std::size_t start = from;
        TextSpan comment;
        if (Comment(from, comment)) {
            node.comment = comment;
            start = comment.end;
        }
        std::size_t index = 0;
        if (Tree(start, end, index)) {
            node.kind = Kind::List;
            node.list = index;
            node.span = layout_.lists[index].whole;
            return true;
        }
        if (Value(start, node)) {
            end = node.span.end;
            return true;
        }
        if (node.comment) {
            node.kind = Kind::CommentOnly;
            node.span = *node.comment;
            end = node.span.end;
            return true;
        }
        return false;
    }

    const std::string& t_;
    const std::size_t n_;
    std::size_t nesting_ = 0;
    std::map<std::size_t, std::size_t> failed_;  // list start -> nesting at which it failed
    ParamLayout layout_;
};

}  // namespace

std::optional<ParamLayout> ScanParamLayout(const std::string& text) { return Scanner(text).Root(); }

}  // namespace ts_ami
