#include "amisim/channel/touchstone.hpp"

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

namespace {

constexpr int kMaxPorts = 64;

// 1.x files say their port count only in their name: name.s8p holds 8 ports.
int portsFromName(const std::string& origin) {
    const std::size_t dot = origin.find_last_of('.');
    if (dot == std::string::npos || dot + 3 > origin.size()) return 4;
    const std::string ext = upper(origin.substr(dot + 1));
    if (ext.size() < 3 || ext.front() != 'S' || ext.back() != 'P') return 4;
    int n = 0;
    for (std::size_t i = 1; i + 1 < ext.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(ext[i])) || n > kMaxPorts) return 4;
        n = n * 10 + (ext[i] - '0');
    }
    return n >= 1 && n <= kMaxPorts ? n : 4;
}

double numberOf(const std::string& tok, const std::string& where) {
    char* end = nullptr;
    const double v = std::strtod(tok.c_str(), &end);
    if (end == tok.c_str() || *end != '\0' || !std::isfinite(v))
        throw TouchstoneError(where + ": '" + tok + "' is not a number");
    return v;
}

std::string keywordName(const std::string& inside) {
    std::string k;
    for (char c : inside)
        if (c != ' ' && c != '\t' && c != '_' && c != '-')
            k.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    return k;
}

// Single-ended from mixed-mode: each entry of the order is a unit row of the real orthogonal
// map M from single-ended to mixed-mode waves; S_se = M^T S_mm M.
std::vector<std::vector<double>> mixedModeMap(const std::vector<std::string>& order, int n,
                                              const std::string& where) {
    std::vector<std::vector<double>> m(static_cast<std::size_t>(n),
                                       std::vector<double>(static_cast<std::size_t>(n), 0.0));
    const double h = std::sqrt(0.5);
    for (std::size_t r = 0; r < order.size(); ++r) {
        const std::string t = upper(order[r]);
        auto port = [&](const std::string& x) {
            char* end = nullptr;
            const long v = std::strtol(x.c_str(), &end, 10);
            if (x.empty() || *end != '\0' || v < 1 || v > n)
                throw TouchstoneError(where + ": '" + order[r] +
                                      "' in [Mixed-Mode Order] names no port of the file");
            return static_cast<std::size_t>(v - 1);
        };
        if (t.size() >= 2 && (t[0] == 'D' || t[0] == 'C')) {
            const std::size_t comma = t.find(',');
            if (comma == std::string::npos)
                throw TouchstoneError(where + ": '" + order[r] + "' needs two ports (D1,2)");
            const std::size_t p = port(t.substr(1, comma - 1)), q = port(t.substr(comma + 1));
            if (p == q)
                throw TouchstoneError(where + ": '" + order[r] + "' pairs a port with itself");
            m[r][p] = h;
            m[r][q] = t[0] == 'D' ? -h : h;
        } else if (t.size() >= 2 && t[0] == 'S') {
            m[r][port(t.substr(1))] = 1.0;
        } else {
            throw TouchstoneError(where + ": '" + order[r] +
                                  "' in [Mixed-Mode Order] is not "
                                  "Dp,q, Cp,q or Sp");
        }
    }
    // every single-ended port once: M^T M = I
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            double dot = 0;
            for (int r = 0; r < n; ++r)
                dot += m[static_cast<std::size_t>(r)][static_cast<std::size_t>(i)] *
                       m[static_cast<std::size_t>(r)][static_cast<std::size_t>(j)];
            if (std::abs(dot - (i == j ? 1.0 : 0.0)) > 1e-9)
                throw TouchstoneError(where +
                                      ": [Mixed-Mode Order] does not cover every port "
                                      "exactly once");
        }
    return m;
}

struct Header {
    bool v2 = false;
    int ports = 0;
    std::string matrixFormat = "FULL";
    std::string twoPortOrder;  // 12_21 or 21_12
    long frequencies = -1;
    std::vector<double> references;
    std::vector<std::string> mixedOrder;
    bool inData = false;
};

}  // namespace

NPortData parseTouchstone(const std::string& text, const std::string& origin) {
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    bool haveOptions = false, sawContent = false, ended = false, skipping = false;
    OptionLine opt;
    Header h;
    enum class Pending { None, Reference, MixedOrder } pending = Pending::None;
    std::vector<double> numbers;
    std::vector<int> numberLines;
    while (std::getline(in, line)) {
        ++lineNo;
        if (auto bang = line.find('!'); bang != std::string::npos) line.erase(bang);
        std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos) continue;
        const std::string where = origin + ":" + std::to_string(lineNo);
        if (ended) continue;
        if (line[first] == '[') {
            const std::size_t close = line.find(']', first);
            if (close == std::string::npos)
                throw TouchstoneError(where + ": a keyword without its closing ']'");
            const std::string key = keywordName(line.substr(first + 1, close - first - 1));
            std::istringstream rest(line.substr(close + 1));
            std::vector<std::string> args;
            for (std::string t; rest >> t;) args.push_back(t);
            pending = Pending::None;
            if (!sawContent) {
                if (key != "VERSION")
                    throw TouchstoneError(where + ": a Touchstone 2 file starts with [Version]");
                if (args.empty() || (args[0] != "2.0" && args[0] != "2.1"))
                    throw TouchstoneError(where + ": only Touchstone 2.0 and 1.x are read");
                h.v2 = true;
                sawContent = true;
                continue;
            }
            if (!h.v2)
                throw TouchstoneError(where +
                                      ": a Touchstone 2 keyword in a 1.x file (it needs "
                                      "[Version] 2.0 first)");
            if (skipping && key != "ENDINFORMATION" && key != "END") continue;
            if (key == "NUMBEROFPORTS") {
                if (args.size() != 1)
                    throw TouchstoneError(where + ": [Number of Ports] needs one count");
                const double n = numberOf(args[0], where);
                if (n < 1 || n > kMaxPorts || n != std::floor(n))
                    throw TouchstoneError(where + ": [Number of Ports] must be 1 .. " +
                                          std::to_string(kMaxPorts));
                h.ports = static_cast<int>(n);
            } else if (key == "TWOPORTDATAORDER") {
                if (args.size() != 1 || (args[0] != "12_21" && args[0] != "21_12"))
                    throw TouchstoneError(where + ": [Two-Port Data Order] is 12_21 or 21_12");
                h.twoPortOrder = args[0];
            } else if (key == "NUMBEROFFREQUENCIES") {
                if (args.size() != 1)
                    throw TouchstoneError(where + ": [Number of Frequencies] needs one count");
                const double n = numberOf(args[0], where);
                if (n < 1 || n != std::floor(n) || n > 1e8)
                    throw TouchstoneError(where + ": bad [Number of Frequencies]");
                h.frequencies = static_cast<long>(n);
            } else if (key == "NUMBEROFNOISEFREQUENCIES") {
            } else if (key == "REFERENCE") {
                for (const std::string& a : args) h.references.push_back(numberOf(a, where));
                pending = Pending::Reference;
            } else if (key == "MATRIXFORMAT") {
                const std::string f = args.empty() ? "" : upper(args[0]);
                if (f != "FULL" && f != "LOWER" && f != "UPPER")
                    throw TouchstoneError(where + ": [Matrix Format] is Full, Lower or Upper");
                h.matrixFormat = f;
            } else if (key == "MIXEDMODEORDER") {
                h.mixedOrder = args;
                pending = Pending::MixedOrder;
            } else if (key == "BEGININFORMATION") {
                skipping = true;
            } else if (key == "ENDINFORMATION") {
                skipping = false;
            } else if (key == "NETWORKDATA") {
                if (h.ports == 0)
                    throw TouchstoneError(where +
                                          ": a Touchstone 2 file needs [Number of Ports] "
                                          "before [Network Data]");
                if (!haveOptions)
                    throw TouchstoneError(where +
                                          ": the option line (#) must come before "
                                          "[Network Data]");
                h.inData = true;
            } else if (key == "NOISEDATA" || key == "END") {
                ended = true;
            } else {
                throw TouchstoneError(where + ": unknown keyword '" +
                                      line.substr(first, close - first + 1) + "'");
            }
            continue;
        }
        if (skipping) continue;
        sawContent = true;
        if (line[first] == '#') {
            if (haveOptions) continue;  // only the first option line counts
            opt = parseOptions(line.substr(first), where);
            haveOptions = true;
            continue;
        }
        std::istringstream ls(line);
        std::string tok;
        if (pending == Pending::Reference) {
            while (ls >> tok) h.references.push_back(numberOf(tok, where));
            continue;
        }
        if (pending == Pending::MixedOrder) {
            while (ls >> tok) h.mixedOrder.push_back(tok);
            continue;
        }
        if (h.v2 && !h.inData) throw TouchstoneError(where + ": data before [Network Data]");
        while (ls >> tok) {
            numbers.push_back(numberOf(tok, where));
            numberLines.push_back(lineNo);
        }
    }
    if (h.v2 && h.ports == 0)
        throw TouchstoneError(origin + ": a Touchstone 2 file needs [Number of Ports]");
    const int n = h.v2 ? h.ports : portsFromName(origin);
    if (h.v2 && h.ports == 2 && h.twoPortOrder.empty())
        throw TouchstoneError(origin +
                              ": a Touchstone 2 two-port file needs [Two-Port Data Order]");
    const bool full = h.matrixFormat == "FULL";
    const std::size_t pairs =
        full ? static_cast<std::size_t>(n) * static_cast<std::size_t>(n)
             : static_cast<std::size_t>(n) * static_cast<std::size_t>(n + 1) / 2;
    const std::size_t perPoint = 1 + 2 * pairs;
    if (numbers.empty()) throw TouchstoneError(origin + ": no data points");
    if (numbers.size() % perPoint != 0)
        throw TouchstoneError(
            origin + ": " + std::to_string(numbers.size()) + " numbers do not make whole " +
            std::to_string(n) + "-port points (" + std::to_string(perPoint) +
            " per frequency); the file is truncated or not a " + std::to_string(n) + "-port file");
    const std::size_t count = numbers.size() / perPoint;
    if (h.frequencies >= 0 && static_cast<std::size_t>(h.frequencies) != count)
        throw TouchstoneError(origin + ": [Number of Frequencies] says " +
                              std::to_string(h.frequencies) + " but the data hold " +
                              std::to_string(count));
    NPortData d;
    d.ports = n;
    d.version = h.v2 ? 2 : 1;
    d.referenceOhms = opt.reference;
    if (!h.references.empty()) {
        if (h.references.size() != static_cast<std::size_t>(n))
            throw TouchstoneError(origin + ": [Reference] names " +
                                  std::to_string(h.references.size()) + " impedances for " +
                                  std::to_string(n) + " ports");
        for (double r : h.references) {
            if (!(r > 0))
                throw TouchstoneError(origin + ": a [Reference] impedance must be positive");
            if (std::abs(r - h.references[0]) > 1e-9 * h.references[0])
                throw TouchstoneError(origin +
                                      ": the ports have different reference impedances; "
                                      "amisim reads files whose ports share one");
        }
        d.referenceOhms = h.references[0];
    }
    std::vector<std::vector<double>> mm;
    if (!h.mixedOrder.empty()) {
        if (h.mixedOrder.size() != static_cast<std::size_t>(n))
            throw TouchstoneError(origin + ": [Mixed-Mode Order] names " +
                                  std::to_string(h.mixedOrder.size()) + " waves for " +
                                  std::to_string(n) + " ports");
        mm = mixedModeMap(h.mixedOrder, n, origin);
    }
    // 1.x two-ports and 2.0 ones marked 21_12 list S11 S21 S12 S22
    const bool swapTwoPort = n == 2 && (h.v2 ? h.twoPortOrder == "21_12" : true);
    const std::size_t nn = static_cast<std::size_t>(n);
    d.frequencies.reserve(count);
    d.s.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
        const double* p = &numbers[k * perPoint];
        const double f = p[0] * opt.unit;
        if (f < 0 || (!d.frequencies.empty() && f <= d.frequencies.back()))
            throw TouchstoneError(origin + ":" + std::to_string(numberLines[k * perPoint]) +
                                  ": frequencies must be non-negative and strictly increasing");
        std::vector<std::complex<double>> s(nn * nn);
        std::size_t idx = 0;
        for (std::size_t i = 0; i < nn; ++i) {
            const std::size_t from = h.matrixFormat == "UPPER" ? i : 0;
            const std::size_t to = h.matrixFormat == "LOWER" ? i + 1 : nn;
            for (std::size_t j = from; j < to; ++j, ++idx) {
                const std::complex<double> v =
                    toComplex(p[1 + 2 * idx], p[2 + 2 * idx], opt.format);
                s[i * nn + j] = v;
                if (!full) s[j * nn + i] = v;
            }
        }
        if (swapTwoPort) std::swap(s[1], s[2]);
        if (!mm.empty()) {
            std::vector<std::complex<double>> t(nn * nn), out(nn * nn);
            for (std::size_t i = 0; i < nn; ++i)  // t = S_mm M
                for (std::size_t j = 0; j < nn; ++j)
                    for (std::size_t r = 0; r < nn; ++r) t[i * nn + j] += s[i * nn + r] * mm[r][j];
            for (std::size_t i = 0; i < nn; ++i)  // out = M^T t
                for (std::size_t j = 0; j < nn; ++j)
                    for (std::size_t r = 0; r < nn; ++r)
                        out[i * nn + j] += mm[r][i] * t[r * nn + j];
            s.swap(out);
        }
        d.frequencies.push_back(f);
        d.s.push_back(std::move(s));
    }
    return d;
}

NPortData readTouchstone(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw TouchstoneError("cannot open the Touchstone file '" + path + "'");
    std::ostringstream ss;
    ss << in.rdbuf();
    return parseTouchstone(ss.str(), path);
}

std::array<int, 4> parseThroughPorts(const std::string& text) {
    std::array<int, 4> p{};
    char d1 = 0, s = 0, d2 = 0;
    std::istringstream is(text);
    if (!(is >> p[0] >> d1 >> p[1] >> s >> p[2] >> d2 >> p[3]) || d1 != '-' || s != '/' ||
        d2 != '-' || is.peek() != std::char_traits<char>::eof())
        throw TouchstoneError("port numbering '" + text + "' is not of the form a-b/c-d");
    for (int i = 0; i < 4; ++i) {
        if (p[static_cast<std::size_t>(i)] < 1)
            throw TouchstoneError("port numbering '" + text + "': ports count from 1");
        for (int j = 0; j < i; ++j)
            if (p[static_cast<std::size_t>(i)] == p[static_cast<std::size_t>(j)])
                throw TouchstoneError("port numbering '" + text + "' names a port twice");
    }
    return p;
}

FourPortData throughFourPort(const NPortData& data, const std::array<int, 4>& through,
                             const std::string& origin) {
    for (int p : through)
        if (p < 1 || p > data.ports)
            throw TouchstoneError(origin + " has " + std::to_string(data.ports) +
                                  " ports: it has no port " + std::to_string(p));
    FourPortData d;
    d.frequencies = data.frequencies;
    d.referenceOhms = data.referenceOhms;
    const std::size_t n = static_cast<std::size_t>(data.ports);
    // input pair (P, N) are ports 1, 2 and output pair 3, 4: lines 1->3 and 2->4
    d.s.reserve(data.s.size());
    for (const auto& s : data.s) {
        std::array<std::complex<double>, 16> sub{};
        for (std::size_t i = 0; i < 4; ++i)
            for (std::size_t j = 0; j < 4; ++j)
                sub[i * 4 + j] = s[static_cast<std::size_t>(through[i] - 1) * n +
                                   static_cast<std::size_t>(through[j] - 1)];
        d.s.push_back(sub);
    }
    return d;
}

FourPortData parseS4p(const std::string& text, const std::string& origin) {
    const NPortData d = parseTouchstone(text, origin);
    if (d.ports != 4)
        throw TouchstoneError(origin + " has " + std::to_string(d.ports) +
                              " ports: name the through pair with --ports a-b/c-d" +
                              (d.ports < 4 ? " (a channel needs at least four ports)" : ""));
    return throughFourPort(d, {1, 2, 3, 4}, origin);
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
