#include "amisim/touchstone.hpp"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <sstream>

namespace amisim {

namespace {

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

struct OptionLine {
    double unit = 1e9;  // Touchstone default: GHz
    std::string format = "MA";
    double reference = 50.0;
};

OptionLine parseOptions(const std::string& line, const std::string& where) {
    OptionLine o;
    std::istringstream is(line.substr(1));
    std::string tok;
    while (is >> tok) {
        std::string t = upper(tok);
        if (t == "HZ")
            o.unit = 1.0;
        else if (t == "KHZ")
            o.unit = 1e3;
        else if (t == "MHZ")
            o.unit = 1e6;
        else if (t == "GHZ")
            o.unit = 1e9;
        else if (t == "MA" || t == "DB" || t == "RI")
            o.format = t;
        else if (t == "S")
            continue;
        else if (t == "Y" || t == "Z" || t == "H" || t == "G")
            throw TouchstoneError(where + ": only S-parameters are supported, not " + tok);
        else if (t == "R") {
            std::string r;
            if (!(is >> r)) throw TouchstoneError(where + ": the option R needs a resistance");
            char* end = nullptr;
            o.reference = std::strtod(r.c_str(), &end);
            if (*end != '\0' || !(o.reference > 0))
                throw TouchstoneError(where + ": bad reference resistance '" + r + "'");
        } else {
            throw TouchstoneError(where + ": unknown option '" + tok + "'");
        }
    }
    return o;
}

std::complex<double> toComplex(double a, double b, const std::string& format) {
    const double deg = std::numbers::pi / 180.0;
    if (format == "RI") return {a, b};
    double mag = (format == "DB") ? std::pow(10.0, a / 20.0) : a;
    return std::polar(mag, b * deg);
}

}  // namespace

PortOrder parsePortOrder(const std::string& text) {
    if (text == "1-2/3-4" || text == "12/34" || text == "12-34") return PortOrder::Pairs12_34;
    if (text == "1-3/2-4" || text == "13/24" || text == "13-24") return PortOrder::Pairs13_24;
    throw TouchstoneError("port numbering '" + text + "' is neither 1-2/3-4 nor 1-3/2-4");
}

FourPortData parseS4p(const std::string& text, const std::string& origin) {
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    bool haveOptions = false;
    OptionLine opt;
    std::vector<double> numbers;
    std::vector<int> numberLines;
    while (std::getline(in, line)) {
        ++lineNo;
        if (auto bang = line.find('!'); bang != std::string::npos) line.erase(bang);
        std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos) continue;
        std::string where = origin + ":" + std::to_string(lineNo);
        if (line[first] == '#') {
            if (haveOptions) continue;  // only the first option line counts
            opt = parseOptions(line.substr(first), where);
            haveOptions = true;
            continue;
        }
        if (line[first] == '[')
            throw TouchstoneError(where + ": Touchstone 2 keywords are not supported");
        std::istringstream ls(line);
        std::string tok;
        while (ls >> tok) {
            char* end = nullptr;
            double v = std::strtod(tok.c_str(), &end);
            if (end == tok.c_str() || *end != '\0' || !std::isfinite(v))
                throw TouchstoneError(where + ": '" + tok + "' is not a number");
            numbers.push_back(v);
            numberLines.push_back(lineNo);
        }
    }
    constexpr std::size_t perPoint = 1 + 32;
    if (numbers.empty()) throw TouchstoneError(origin + ": no data points");
    if (numbers.size() % perPoint != 0)
        throw TouchstoneError(origin + ": " + std::to_string(numbers.size()) +
                              " numbers do not make whole four-port points (33 per frequency); "
                              "the file is truncated or not a four-port file");
    FourPortData d;
    d.referenceOhms = opt.reference;
    const std::size_t n = numbers.size() / perPoint;
    d.frequencies.reserve(n);
    d.s.reserve(n);
    for (std::size_t k = 0; k < n; ++k) {
        const double* p = &numbers[k * perPoint];
        double f = p[0] * opt.unit;
        if (f < 0 || (!d.frequencies.empty() && f <= d.frequencies.back()))
            throw TouchstoneError(origin + ":" + std::to_string(numberLines[k * perPoint]) +
                                  ": frequencies must be non-negative and strictly increasing");
        std::array<std::complex<double>, 16> s{};
        for (int i = 0; i < 16; ++i)
            s[static_cast<std::size_t>(i)] = toComplex(p[1 + 2 * i], p[2 + 2 * i], opt.format);
        d.frequencies.push_back(f);
        d.s.push_back(s);
    }
    return d;
}

FourPortData readS4p(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw TouchstoneError("cannot open the Touchstone file '" + path + "'");
    std::ostringstream ss;
    ss << in.rdbuf();
    return parseS4p(ss.str(), path);
}

std::vector<std::complex<double>> differentialInsertionLoss(const FourPortData& data,
                                                            PortOrder order) {
    // zero-based single-ended ports of the positive and negative leg at each side
    int i1 = 0, i2 = 1, o1 = 2, o2 = 3;
    if (order == PortOrder::Pairs13_24) {
        i1 = 0;
        i2 = 2;
        o1 = 1;
        o2 = 3;
    }
    auto at = [](const std::array<std::complex<double>, 16>& s, int r, int c) {
        return s[static_cast<std::size_t>(r * 4 + c)];
    };
    std::vector<std::complex<double>> sdd21;
    sdd21.reserve(data.s.size());
    for (const auto& s : data.s)
        sdd21.push_back(0.5 * (at(s, o1, i1) - at(s, o1, i2) - at(s, o2, i1) + at(s, o2, i2)));
    return sdd21;
}

}  // namespace amisim
