#include "tx/text_lines.hpp"

#include <fstream>
#include <sstream>

namespace v10kx_ami_tx {

TextLines ReadTextLines(const std::string& path) {
    TextLines result;
    std::ifstream in(path);
    if (!in) return result;
    result.opened = true;
    std::string line;
    while (std::getline(in, line)) {
        if (in.eof()) break;  // no line feed after it: not a complete line
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > kMaxTextLineLength) {
            result.error = "line " + std::to_string(result.lines.size() + 1) + " is longer than " +
                           std::to_string(kMaxTextLineLength) + " characters";
            result.lines.clear();
            return result;
        }
        result.lines.push_back(std::move(line));
    }
    return result;
}

double ParseLenient(const std::string& text) {
    std::istringstream in(text);
    double value = 0.0;
    if (!(in >> value)) return 0.0;
    return value;
}

std::optional<double> ParseFull(const std::string& text) {
    std::istringstream in(text);
    double value = 0.0;
    if (!(in >> value)) return std::nullopt;
    if (in.peek() != std::char_traits<char>::eof()) return std::nullopt;
    return value;
}

}  // namespace v10kx_ami_tx
