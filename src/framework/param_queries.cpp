// Typed conversions of parameter value texts.
#include "framework/param_queries.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sstream>

IntParamSpec MakeIntParamSpec(std::string name, std::vector<int> allowed,
                              std::vector<std::string> labels) {
    IntParamSpec row{std::move(name), std::move(allowed), std::move(labels), {}};
    for (std::size_t i = 0; i < row.allowed.size(); ++i) {
        row.positions.emplace(row.allowed[i], static_cast<int>(i));  // first position wins
    }
    return row;
}

bool ScanInt(const std::string& text, int& value) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long scanned = std::strtol(begin, &end, 10);
    if (end == begin) return false;
    if (errno == ERANGE || scanned < INT_MIN || scanned > INT_MAX) return false;
    value = static_cast<int>(scanned);
    return true;
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
