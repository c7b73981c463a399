#include "amisim/host/ibis_file.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace amisim {

namespace {

// Larger files or tables are not buffer models: refuse them rather than read on.
constexpr std::size_t kMaxFileBytes = std::size_t{64} << 20;
constexpr std::size_t kMaxTableRows = 10000;

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Keyword names compare without case, with blanks and underscores alike.
std::string keywordKey(const std::string& name) {
    std::string k;
    for (char c : name) {
        if (c == ' ' || c == '\t' || c == '_') {
            if (!k.empty() && k.back() != '_') k.push_back('_');
        } else {
            k.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        }
    }
    while (!k.empty() && k.back() == '_') k.pop_back();
    return k;
}

std::vector<std::string> tokens(const std::string& line) {
    std::istringstream is(line);
    std::vector<std::string> out;
    std::string t;
    while (is >> t) out.push_back(t);
    return out;
}

bool isNa(const std::string& t) { return lower(t) == "na"; }

IbisValue tripleOf(const std::vector<std::string>& t, std::size_t from, const std::string& where) {
    if (t.size() <= from || isNa(t[from])) throw IbisError(where + ": a typical value is needed");
    IbisValue v;
    v.v[0] = parseIbisNumber(t[from], where);
    for (std::size_t i = 1; i < 3; ++i) {
        const std::size_t k = from + i;
        v.v[i] = (k < t.size() && !isNa(t[k])) ? parseIbisNumber(t[k], where) : v.v[0];
    }
    return v;
}

// Slope dI/dV of a table at voltage v (siemens), from the two points that bracket it.
double slopeAt(const IbisIvTable& t, double v, IbisCorner c) {
    if (t.volts.size() < 2) return 0.0;
    std::size_t hi = 1;
    while (hi + 1 < t.volts.size() && t.volts[hi] < v) ++hi;
    const std::size_t lo = hi - 1;
    const double dv = t.volts[hi] - t.volts[lo];
    if (!(dv > 0)) return 0.0;
    return (t.amps[hi].at(c) - t.amps[lo].at(c)) / dv;
}

class Parser {
  public:
    Parser(const std::string& origin) : origin_(origin) { file_.path = origin; }

    IbisFile run(const std::string& text) {
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            ++lineNo_;
            if (auto bar = line.find('|'); bar != std::string::npos) line.erase(bar);
            while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
            const std::size_t first = line.find_first_not_of(" \t");
            if (first == std::string::npos) continue;
            if (line[first] == '[') {
                const std::size_t close = line.find(']', first);
                if (close == std::string::npos) fail("a keyword without its closing ']'");
                keyword(keywordKey(line.substr(first + 1, close - first - 1)),
                        line.substr(close + 1));
            } else {
                data(tokens(line));
            }
        }
        if (file_.components.empty() && file_.models.empty())
            throw IbisError(origin_ + ": no [Component] and no [Model]: not an IBIS file");
        for (const IbisComponent& c : file_.components)
            for (const IbisPin& p : c.pins)
                if (!file_.model(p.model) && !isRail(p.model) && !isNa(p.model))
                    throw IbisError(origin_ + ": pin " + p.name + " of [Component] " + c.name +
                                    " names the model '" + p.model + "', which the file lacks");
        return std::move(file_);
    }

  private:
    enum class Section { None, Component, Package, Pin, Model, Table, Skip };

    static bool isRail(const std::string& m) {
        const std::string l = lower(m);
        return l == "power" || l == "gnd" || l == "nc";
    }

    [[noreturn]] void fail(const std::string& what) const {
        throw IbisError(origin_ + ":" + std::to_string(lineNo_) + ": " + what);
    }
    std::string where() const { return origin_ + ":" + std::to_string(lineNo_); }

    IbisComponent& component() {
        if (file_.components.empty()) fail("package data before any [Component]");
        return file_.components.back();
    }
    IbisModel& model() {
        if (!model_) fail("model data before any [Model]");
        return *model_;
    }

    void keyword(const std::string& key, const std::string& rest) {
        const std::vector<std::string> args = tokens(rest);
        table_ = nullptr;
        if (key == "component") {
            if (args.empty()) fail("[Component] needs a name");
            file_.components.push_back({});
            file_.components.back().name = args[0];
            model_ = nullptr;
            section_ = Section::Component;
        } else if (key == "package") {
            component();
            section_ = Section::Package;
        } else if (key == "pin") {
            component();
            // the keyword line names the columns; R_pin, L_pin and C_pin come together
            pinColumns_ = args.size() >= 5 ? 3 : 0;
            section_ = Section::Pin;
        } else if (key == "model") {
            if (args.empty()) fail("[Model] needs a name");
            if (file_.models.count(args[0])) fail("[Model] " + args[0] + " appears twice");
            model_ = &file_.models[args[0]];
            model_->name = args[0];
            section_ = Section::Model;
        } else if (key == "pulldown" || key == "pullup" || key == "gnd_clamp" ||
                   key == "power_clamp") {
            IbisModel& m = model();
            table_ = key == "pulldown"    ? &m.pulldown
                     : key == "pullup"    ? &m.pullup
                     : key == "gnd_clamp" ? &m.gndClamp
                                          : &m.powerClamp;
            if (!table_->empty()) fail("[" + key + "] appears twice in [Model] " + m.name);
            section_ = Section::Table;
        } else if (key == "rgnd" || key == "rpower") {
            IbisModel& m = model();
            termination_ = key == "rgnd" ? &m.rgnd : &m.rpower;
            if (*termination_) fail("[" + key + "] appears twice in [Model] " + m.name);
            if (!args.empty()) {
                *termination_ = tripleOf(args, 0, where());
                termination_ = nullptr;
            }
            section_ = Section::Model;
        } else if (key == "end") {
            section_ = Section::Skip;
            done_ = true;
        } else {
            // a keyword this reader has no use for: its data end at the next keyword
            section_ = Section::Skip;
        }
        if (key != "rgnd" && key != "rpower") termination_ = nullptr;
    }

    void data(const std::vector<std::string>& t) {
        if (done_) return;
        switch (section_) {
            case Section::Package: {
                if (t.size() < 2) fail("a [Package] line needs a name and a value");
                const std::string k = lower(t[0]);
                IbisComponent& c = component();
                if (k == "r_pkg")
                    c.rPkg = tripleOf(t, 1, where());
                else if (k == "l_pkg")
                    c.lPkg = tripleOf(t, 1, where());
                else if (k == "c_pkg")
                    c.cPkg = tripleOf(t, 1, where());
                else
                    fail("unknown [Package] entry '" + t[0] + "'");
                break;
            }
            case Section::Pin: {
                if (t.size() < 3) fail("a [Pin] line needs the pin, its signal and its model");
                IbisComponent& c = component();
                if (c.pins.size() >= kMaxTableRows) fail("too many pins");
                IbisPin p;
                p.name = t[0];
                p.signal = t[1];
                p.model = t[2];
                if (pinColumns_ == 3 && t.size() >= 6) {
                    if (!isNa(t[3])) p.r = parseIbisNumber(t[3], where());
                    if (!isNa(t[4])) p.l = parseIbisNumber(t[4], where());
                    if (!isNa(t[5])) p.c = parseIbisNumber(t[5], where());
                }
                c.pins.push_back(std::move(p));
                break;
            }
            case Section::Model: {
                if (termination_) {  // the values of a termination keyword on the next line
                    *termination_ = tripleOf(t, 0, where());
                    termination_ = nullptr;
                    break;
                }
                termination_ = nullptr;
                IbisModel& m = model();
                const std::string k = lower(t[0]);
                std::vector<std::string> rest(t.begin() + 1, t.end());
                if (!rest.empty() && rest[0] == "=") rest.erase(rest.begin());
                if (k == "model_type") {
                    if (rest.empty()) fail("Model_type needs a value");
                    m.type = rest[0];
                } else if (k == "c_comp") {
                    m.cComp = tripleOf(rest, 0, where());
                }
                break;
            }
            case Section::Table: {
                if (t.size() < 2) fail("an I-V row needs a voltage and a current");
                if (table_->volts.size() >= kMaxTableRows) fail("too many I-V rows");
                const double v = parseIbisNumber(t[0], where());
                if (!table_->volts.empty() && v <= table_->volts.back())
                    fail("I-V voltages must increase");
                table_->volts.push_back(v);
                table_->amps.push_back(tripleOf(t, 1, where()));
                break;
            }
            default:
                break;
        }
    }

    std::string origin_;
    IbisFile file_;
    int lineNo_ = 0;
    Section section_ = Section::None;
    IbisModel* model_ = nullptr;
    IbisIvTable* table_ = nullptr;
    std::optional<IbisValue>* termination_ = nullptr;
    int pinColumns_ = 0;
    bool done_ = false;
};

bool isDriver(const std::string& type) {
    std::string t;
    for (char c : type) t.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return t == "output" || t == "i/o" || t == "3-state" || t == "open_drain" || t == "open_sink" ||
           t == "open_source" || t == "i/o_open_drain";
}

bool isReceiver(const std::string& type) {
    std::string t;
    for (char c : type) t.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return t == "input";
}

}  // namespace

const IbisModel* pinModel(const IbisFile& f, bool driver) {
    for (const IbisComponent& c : f.components)
        for (const IbisPin& p : c.pins)
            if (const IbisModel* m = f.model(p.model))
                if (driver ? isDriver(m->type) : isReceiver(m->type)) return m;
    return nullptr;
}

IbisPackage pinPackage(const IbisFile& f, const IbisModel& m, IbisCorner corner) {
    double r = 0, l = 0, c = 0;
    int n = 0;
    for (const IbisComponent& comp : f.components) {
        for (const IbisPin& p : comp.pins) {
            if (p.model != m.name) continue;
            auto pick = [&](const std::optional<double>& pin, const std::optional<IbisValue>& pkg) {
                return pin ? *pin : pkg ? pkg->at(corner) : 0.0;
            };
            r += pick(p.r, comp.rPkg);
            l += pick(p.l, comp.lPkg);
            c += pick(p.c, comp.cPkg);
            ++n;
        }
        if (n > 0) break;
    }
    if (n == 0) return {};
    return {r / n, l / n, c / n};
}

std::optional<IbisCorner> parseIbisCorner(const std::string& text) {
    if (text == "typ") return IbisCorner::Typ;
    if (text == "min") return IbisCorner::Min;
    if (text == "max") return IbisCorner::Max;
    return std::nullopt;
}

std::string ibisCornerName(IbisCorner c) {
    return c == IbisCorner::Typ ? "typ" : c == IbisCorner::Min ? "min" : "max";
}

const IbisModel* IbisFile::model(const std::string& name) const {
    auto it = models.find(name);
    return it == models.end() ? nullptr : &it->second;
}

double parseIbisNumber(const std::string& text, const std::string& where) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !std::isfinite(v))
        throw IbisError(where + ": '" + text + "' is not a number");
    double scale = 1.0;
    std::string rest(end);
    if (!rest.empty()) {
        switch (rest[0]) {
            case 'T':
                scale = 1e12;
                break;
            case 'G':
                scale = 1e9;
                break;
            case 'M':
                scale = 1e6;
                break;
            case 'k':
                scale = 1e3;
                break;
            case 'm':
                scale = 1e-3;
                break;
            case 'u':
                scale = 1e-6;
                break;
            case 'n':
                scale = 1e-9;
                break;
            case 'p':
                scale = 1e-12;
                break;
            case 'f':
                scale = 1e-15;
                break;
            default:
                break;
        }
        const std::size_t unitFrom = scale == 1.0 ? 0 : 1;
        for (std::size_t i = unitFrom; i < rest.size(); ++i)
            if (!std::isalpha(static_cast<unsigned char>(rest[i])))
                throw IbisError(where + ": '" + text + "' is not a number");
    }
    return v * scale;
}

IbisFile parseIbis(const std::string& text, const std::string& origin) {
    if (text.size() > kMaxFileBytes) throw IbisError(origin + ": too large for an IBIS file");
    return Parser(origin).run(text);
}

IbisFile readIbis(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw IbisError("cannot open the IBIS file '" + path + "'");
    std::ostringstream ss;
    ss << in.rdbuf();
    return parseIbis(ss.str(), path);
}

double driverResistance(const IbisModel& m, IbisCorner c) {
    if (m.pulldown.volts.size() < 2 && m.pullup.volts.size() < 2)
        throw IbisError("model " + m.name +
                        " has no [Pulldown] or [Pullup] table to tell its "
                        "source resistance");
    // The clamps sit beside the driver in both states; the pullup table is referred to the
    // supply, so 0 V there is the output at the rail.
    const double clamp = slopeAt(m.gndClamp, 0.0, c) + slopeAt(m.powerClamp, 0.0, c);
    double sum = 0;
    int states = 0;
    for (const IbisIvTable* t : {&m.pulldown, &m.pullup}) {
        if (t->volts.size() < 2) continue;
        const double g = std::abs(slopeAt(*t, 0.0, c)) + std::abs(clamp);
        if (!(g > 0))
            throw IbisError("model " + m.name +
                            ": the I-V table is flat at 0 V, so it tells no "
                            "source resistance");
        sum += 1.0 / g;
        ++states;
    }
    return sum / states;
}

std::optional<double> terminationResistance(const IbisModel& m, IbisCorner c) {
    double g = 0;
    bool any = false;
    for (const auto* r : {&m.rgnd, &m.rpower}) {
        if (!*r) continue;
        const double ohms = (*r)->at(c);
        if (!(ohms > 0)) throw IbisError("model " + m.name + ": a termination must be positive");
        g += 1.0 / ohms;
        any = true;
    }
    if (!any) return std::nullopt;
    return 1.0 / g;
}

}  // namespace amisim
