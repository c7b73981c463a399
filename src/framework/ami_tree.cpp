// Parse driver of the parameter string and the path query on its tree.
#include "framework/ami_tree.hpp"

#include "framework/ami_exceptions.hpp"
#include "framework/ami_grammar.hpp"
#include "framework/param_layout.hpp"

namespace {

[[noreturn]] void FailAt(const std::string& text, std::string::const_iterator position) {
    throw EFailedParse(std::string(position, text.end()) + "\nin: " + text);
}

std::string TrimBlanksAndTabs(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

}  // namespace

AmiParamTree::AmiParamTree(const std::string& text) {
    using It = std::string::const_iterator;
    ts_ami::AmiGrammar<It> grammar(ts_ami::kMaxListNesting);
    ts_ami::AmiSkipper<It> skipper;
    It first = text.begin();
    bool matched = false;
    try {
        matched = ts_ami::qi::phrase_parse(first, text.end(), grammar, skipper, root);
    } catch (const ts_ami::NestingTooDeep<It>& e) {
        FailAt(text, e.position);
    }
    if (!matched) FailAt(text, text.begin());
    // phrase_parse has skipped the whitespace after the root list.
    if (first != text.end()) FailAt(text, first);
    rootName = root.name;
}

int AmiParamTree::GetLeaf(const std::vector<std::string>& path, std::string& value) const {
    if (path.empty() || path[0] != rootName) return 1;
    if (path.size() < 2) return 2;  // the root itself holds no leaf value

    const ts_ami::AmiTree* current = &root;
    for (std::size_t depth = 1; depth < path.size(); ++depth) {
        const ts_ami::AmiTree* match = nullptr;
        for (const auto& child : current->children) {
            const auto* list = boost::get<ts_ami::AmiTree>(&child);
            if (list && list->name == path[depth]) {
                match = list;
                break;  // later siblings of the same name are never visited
            }
        }
        if (!match) return 2;
        current = match;
    }
    value.clear();
    if (!current->children.empty()) {
        if (const auto* text = boost::get<std::string>(&current->children.front())) {
            value = TrimBlanksAndTabs(*text);
        }
    }
    return 0;
}
