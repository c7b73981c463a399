// Typed conversions of parameter value texts.
#include "framework/param_queries.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sstream>

#include "framework/ami_tree.hpp"

IntParamSpec MakeIntParamSpec(std::string name, std::vector<int> allowed,
                              std::vector<std::string> labels) {
    IntParamSpec row{std::move(name), std::move(allowed), std::move(labels), {}};
    for (std::size_t i = 0; i < row.allowed.size(); ++i) {
        row.positions.emplace(row.allowed[i], static_cast<int>(i));  // first position wins
    }
    return row;
}

std::optional<int> ScanInt(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long scanned = std::strtol(begin, &end, 10);
    if (end == begin) return std::nullopt;
    // strtol itself saturates at the long limits (ERANGE), with the sign of the text.
    if (scanned < INT_MIN) return INT_MIN;
    if (scanned > INT_MAX) return INT_MAX;
    return static_cast<int>(scanned);
}

bool ScanInt(const std::string& text, int& value) {
    const std::optional<int> scanned = ScanInt(text);
    if (scanned) value = *scanned;
    return scanned.has_value();
}

int ScanIntOr(const std::string& text, int fallback) { return ScanInt(text).value_or(fallback); }

int LookUpParam(const AmiParamTree& tree, const std::vector<std::string>& names,
                std::string& value) {
    std::vector<std::string> path;
    path.reserve(names.size() + 1);
    path.push_back(tree.rootName);
    path.insert(path.end(), names.begin(), names.end());
    return tree.GetLeaf(path, value);
}

bool ParseBool(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long scanned = std::strtol(begin, &end, 10);
    // Any integer other than zero is true, including one too large for an int.
    if (end != begin && scanned != 0) return true;

    std::istringstream words(text);
    std::string word;
    if (!(words >> word)) return false;
    return word == "True" || word == "true";
}
