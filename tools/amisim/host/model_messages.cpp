#include "amisim/host/model_messages.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

#include "amisim/host/ami_file.hpp"

namespace amisim {

namespace {

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool startsWarning(const std::string& line) {
    static const char* const kStarts[] = {"WARNING",
                                          "**Warning**",
                                          "Warning",
                                          "ERROR",
                                          "Error",
                                          "FATAL",
                                          "Failed memory allocation",
                                          "Illegal value",
                                          "Couldn't scan",
                                          "Leaf value getter"};
    return std::any_of(std::begin(kStarts), std::end(kStarts),
                       [&](const char* p) { return startsWith(line, p); });
}

// Lines that explain the warning above them rather than start a new statement.
bool continuesWarning(const std::string& line) {
    if (line.empty()) return false;
    // the report lines that follow a warning are indented too, but belong to the report
    if (startsWith(line, "  Bit rate") || startsWith(line, "  (")) return false;
    if (line[0] == '\t' || startsWith(line, "  ")) return true;
    static const char* const kFollow[] = {"Using default", "In order to set",
                                          "This should not have happened",
                                          "The input AMI parameter string", "Parse failed at"};
    return std::any_of(std::begin(kFollow), std::end(kFollow),
                       [&](const char* p) { return startsWith(line, p); });
}

std::string trimmed(std::string s) {
    const auto a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return "";
    const auto b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

std::vector<std::string> warningLines(const std::string& message) {
    std::vector<std::string> out;
    const std::vector<std::string> lines = splitLines(message);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!startsWarning(lines[i])) continue;
        std::string w = trimmed(lines[i]);
        while (i + 1 < lines.size() && !startsWarning(lines[i + 1]) &&
               continuesWarning(lines[i + 1])) {
            const std::string more = trimmed(lines[++i]);
            if (!more.empty()) w += " / " + more;
        }
        out.push_back(w);
    }
    return out;
}

std::vector<std::string> consoleLines(const std::string& console) {
    std::vector<std::string> order;
    std::map<std::string, int> count;
    for (const std::string& raw : splitLines(console)) {
        const std::string line = trimmed(raw);
        if (line.empty()) continue;
        if (count[line]++ == 0) order.push_back(line);
    }
    for (std::string& line : order) {
        const int n = count[line];
        if (n > 1) line += " (printed " + std::to_string(n) + " times)";
    }
    return order;
}

std::optional<bool> paramsValid(const std::string& parametersOut) {
    const std::string key = "(Params_Valid";
    const auto at = parametersOut.find(key);
    if (at == std::string::npos) return std::nullopt;
    std::istringstream in(parametersOut.substr(at + key.size()));
    std::string value;
    in >> value;
    while (!value.empty() && value.back() == ')') value.pop_back();
    if (value == "True" || value == "true" || value == "1") return true;
    if (value == "False" || value == "false" || value == "0") return false;
    return std::nullopt;
}

std::optional<AdaptedGains> adaptedGains(const std::string& message) {
    const std::string key = "After adaptaion:";
    const auto at = message.rfind(key);
    if (at == std::string::npos) return std::nullopt;
    AdaptedGains g;
    if (std::sscanf(message.c_str() + at + key.size(), " AC Gain: %d, DC Gain: %d, VGA Gain: %d",
                    &g.ac, &g.dc, &g.vga) != 3)
        return std::nullopt;
    return g;
}

std::vector<DfeTap> dfeTapReport(const std::string& parametersOut) {
    std::vector<DfeTap> taps;
    AmiList root;
    try {
        root = parseAmiText(parametersOut, "output parameters");
    } catch (const AmiFileError&) {
        return taps;
    }
    for (const AmiList& l : root.lists) {
        if (!startsWith(l.name, "tap_") || l.values.size() != 2 || !l.lists.empty()) continue;
        char* end = nullptr;
        const long index = std::strtol(l.name.c_str() + 4, &end, 10);
        if (*end != '\0' || index < 1) continue;
        const long code = std::strtol(l.values[0].c_str(), &end, 10);
        if (*end != '\0') continue;
        const double weight = std::strtod(l.values[1].c_str(), &end);
        if (*end != '\0') continue;
        taps.push_back(DfeTap{static_cast<int>(index), static_cast<int>(code), weight});
    }
    std::sort(taps.begin(), taps.end(),
              [](const DfeTap& a, const DfeTap& b) { return a.index < b.index; });
    return taps;
}

std::string rootNameOf(const std::string& parameters) {
    const auto open = parameters.find('(');
    if (open == std::string::npos) return "";
    std::size_t i = open + 1;
    while (i < parameters.size() && std::isspace(static_cast<unsigned char>(parameters[i]))) ++i;
    std::size_t j = i;
    while (j < parameters.size() && !std::isspace(static_cast<unsigned char>(parameters[j])) &&
           parameters[j] != '(' && parameters[j] != ')')
        ++j;
    return parameters.substr(i, j - i);
}

}  // namespace amisim
