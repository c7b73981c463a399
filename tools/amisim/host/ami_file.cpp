#include "amisim/host/ami_file.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace amisim {

const AmiList* AmiList::find(const std::string& childName) const {
    for (const AmiList& l : lists)
        if (l.name == childName) return &l;
    return nullptr;
}

namespace {

class AmiTextReader {
  public:
    AmiTextReader(const std::string& text, const std::string& origin)
        : text_(text), origin_(origin) {}

    AmiList readRoot() {
        skipBlanks();
        if (pos_ >= text_.size()) fail("the file holds no parameter list");
        if (text_[pos_] != '(') fail("expected '(' at the start of the root list");
        AmiList root = readList();
        skipBlanks();
        if (pos_ < text_.size()) fail("unexpected text after the root list");
        return root;
    }

  private:
    [[noreturn]] void fail(const std::string& what) const {
        throw AmiFileError(origin_ + ":" + std::to_string(line_) + ": " + what);
    }

    void skipBlanks() {
        while (pos_ < text_.size()) {
            char c = text_[pos_];
            if (c == '\n') {
                ++line_;
                ++pos_;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++pos_;
            } else if (c == '|') {
                while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
            } else {
                return;
            }
        }
    }

    std::string readBare() {
        std::size_t start = pos_;
        while (pos_ < text_.size()) {
            char c = text_[pos_];
            if (std::isspace(static_cast<unsigned char>(c)) || c == '(' || c == ')' || c == '"' ||
                c == '|')
                break;
            ++pos_;
        }
        return text_.substr(start, pos_ - start);
    }

    std::string readQuoted() {
        int startLine = line_;
        ++pos_;  // opening quote
        std::size_t start = pos_;
        while (pos_ < text_.size() && text_[pos_] != '"') {
            if (text_[pos_] == '\n') ++line_;
            ++pos_;
        }
        if (pos_ >= text_.size()) {
            line_ = startLine;
            fail("unterminated quoted text");
        }
        std::string s = text_.substr(start, pos_ - start);
        ++pos_;  // closing quote
        return s;
    }

    AmiList readList() {
        if (++depth_ > 64) fail("lists nested too deeply");
        AmiList list;
        list.line = line_;
        ++pos_;  // '('
        skipBlanks();
        if (pos_ >= text_.size()) fail("unbalanced parentheses: the file ends inside a list");
        if (text_[pos_] == '(' || text_[pos_] == ')' || text_[pos_] == '"')
            fail("a list must start with a name");
        list.name = readBare();
        for (;;) {
            skipBlanks();
            if (pos_ >= text_.size())
                fail("unbalanced parentheses: list '" + list.name + "' opened on line " +
                     std::to_string(list.line) + " is never closed");
            char c = text_[pos_];
            if (c == ')') {
                ++pos_;
                break;
            }
            if (c == '(') {
                list.lists.push_back(readList());
            } else if (c == '"') {
                list.values.push_back(readQuoted());
                list.quoted.push_back(true);
            } else {
                list.values.push_back(readBare());
                list.quoted.push_back(false);
            }
        }
        --depth_;
        return list;
    }

    const std::string& text_;
    std::string origin_;
    std::size_t pos_ = 0;
    int line_ = 1;
    int depth_ = 0;
};

std::string firstValue(const AmiList* l) {
    return (l && !l->values.empty()) ? l->values.front() : std::string();
}

bool toDouble(const std::string& s, double& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    out = std::strtod(s.c_str(), &end);
    return end && *end == '\0';
}

bool isInteger(const std::string& s) {
    std::size_t i = (!s.empty() && (s[0] == '+' || s[0] == '-')) ? 1 : 0;
    if (i >= s.size()) return false;
    return std::all_of(s.begin() + static_cast<long>(i), s.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

void applyFormat(AmiParameter& p, const std::string& kind, const std::vector<std::string>& v) {
    if (kind == "Range" && v.size() >= 3) {
        double lo = 0, hi = 0;
        if (toDouble(v[1], lo) && toDouble(v[2], hi)) p.range = std::make_pair(lo, hi);
        if (!p.defaultValue) p.defaultValue = v[0];
    } else if (kind == "List" && !v.empty()) {
        p.allowed = v;
        if (!p.defaultValue) p.defaultValue = v[0];
    } else if (kind == "Value" && !v.empty()) {
        if (!p.defaultValue) p.defaultValue = v[0];
    }
}

AmiParameter describeParameter(const AmiList& l, std::vector<std::string> path) {
    AmiParameter p;
    p.path = std::move(path);
    p.usage = firstValue(l.find("Usage"));
    p.type = firstValue(l.find("Type"));
    if (const AmiList* d = l.find("Default"); d && !d->values.empty())
        p.defaultValue = d->values[0];
    if (const AmiList* v = l.find("Value"); v && !v->values.empty() && !p.defaultValue)
        p.defaultValue = v->values[0];
    if (const AmiList* r = l.find("Range")) applyFormat(p, "Range", r->values);
    if (const AmiList* li = l.find("List")) applyFormat(p, "List", li->values);
    if (const AmiList* f = l.find("Format"); f && !f->values.empty()) {
        std::vector<std::string> rest(f->values.begin() + 1, f->values.end());
        applyFormat(p, f->values[0], rest);
    }
    if (const AmiList* t = l.find("List_Tip")) p.listTips = t->values;
    if (const AmiList* d = l.find("Description")) {
        for (const std::string& s : d->values)
            p.description += (p.description.empty() ? "" : " ") + s;
    }
    return p;
}

void collectParameters(const std::vector<AmiList>& lists, const std::vector<std::string>& prefix,
                       std::vector<AmiParameter>& out) {
    for (const AmiList& l : lists) {
        std::vector<std::string> path = prefix;
        path.push_back(l.name);
        if (l.find("Usage")) {
            out.push_back(describeParameter(l, path));
        } else if (!l.lists.empty()) {
            collectParameters(l.lists, path, out);
        }
    }
}

std::vector<std::string> splitDotted(const std::string& name) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : name) {
        if (c == '.') {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts.push_back(cur);
    return parts;
}

// Ordered tree of the names and values that make up the parameter string.
struct StringNode {
    std::string name;
    std::optional<std::string> value;  // already formatted (quoted when needed)
    std::vector<StringNode> children;

    StringNode& child(const std::string& n) {
        for (StringNode& c : children)
            if (c.name == n) return c;
        children.push_back(StringNode{n, std::nullopt, {}});
        return children.back();
    }
    void write(std::ostringstream& os) const {
        os << '(' << name;
        if (value) {
            if (!value->empty()) os << ' ' << *value;
        }
        for (const StringNode& c : children) {
            os << ' ';
            c.write(os);
        }
        os << ')';
    }
};

std::string formatValue(const std::string& type, const std::string& value,
                        const std::string& name) {
    if (type == "String") {
        if (value.find('"') != std::string::npos)
            throw AmiFileError("the value of '" + name + "' may not hold a double quote");
        return value.empty() ? std::string() : "\"" + value + "\"";
    }
    return value;
}

void checkValue(const AmiParameter& p, const std::string& value, const std::string& model,
                std::vector<std::string>* warnings) {
    const std::string name = p.dottedName();
    if (p.type == "Integer" && !isInteger(value))
        throw AmiFileError("value '" + value + "' of " + model + " parameter '" + name +
                           "' is not an integer");
    double d = 0;
    if ((p.type == "Float" || p.type == "UI" || p.type == "Tap") && !toDouble(value, d))
        throw AmiFileError("value '" + value + "' of " + model + " parameter '" + name +
                           "' is not a number");
    if (p.type == "Boolean" && value != "True" && value != "False")
        throw AmiFileError("value '" + value + "' of " + model + " parameter '" + name +
                           "' is not True or False");
    if (!warnings) return;
    if (!p.allowed.empty() &&
        std::find(p.allowed.begin(), p.allowed.end(), value) == p.allowed.end())
        warnings->push_back(model + " parameter '" + name + "' = " + value +
                            " is not in its list of values");
    if (p.range && toDouble(value, d) && (d < p.range->first || d > p.range->second))
        warnings->push_back(model + " parameter '" + name + "' = " + value +
                            " is outside its range");
}

}  // namespace

AmiList parseAmiText(const std::string& text, const std::string& origin) {
    return AmiTextReader(text, origin).readRoot();
}

AmiList readAmiFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw AmiFileError("cannot open the .ami file '" + path + "'");
    std::ostringstream ss;
    ss << in.rdbuf();
    return parseAmiText(ss.str(), path);
}

std::string AmiParameter::dottedName() const {
    std::string s;
    for (const std::string& p : path) s += (s.empty() ? "" : ".") + p;
    return s;
}

const AmiParameter* AmiModelFile::find(const std::vector<std::string>& path) const {
    for (const AmiParameter& p : parameters)
        if (p.path == path) return &p;
    return nullptr;
}

std::optional<std::string> AmiModelFile::infoValue(const std::string& name) const {
    for (const AmiParameter& p : parameters)
        if (p.path.back() == name && p.defaultValue) return p.defaultValue;
    return std::nullopt;
}

AmiModelFile describeModel(const AmiList& root) {
    AmiModelFile m;
    m.rootName = root.name;
    for (const AmiList& l : root.lists) {
        if (l.name == "Reserved_Parameters" || l.name == "Model_Specific") {
            collectParameters(l.lists, {}, m.parameters);
        } else {
            collectParameters({l}, {}, m.parameters);
        }
    }
    return m;
}

AmiModelFile loadModelFile(const std::string& path) { return describeModel(readAmiFile(path)); }

ParamOverride parseOverride(const std::string& text) {
    auto eq = text.find('=');
    if (eq == std::string::npos || eq == 0)
        throw AmiFileError("override '" + text + "' is not of the form NAME=VALUE");
    return ParamOverride{text.substr(0, eq), text.substr(eq + 1)};
}

std::string buildParameterString(const AmiModelFile& model,
                                 const std::vector<ParamOverride>& overrides,
                                 const std::map<std::string, std::string>& reserved,
                                 std::vector<std::string>* warnings) {
    std::map<std::vector<std::string>, std::string> chosen;
    std::map<std::string, std::string> reservedValues = reserved;
    for (const ParamOverride& o : overrides) {
        std::vector<std::string> path = splitDotted(o.name);
        const AmiParameter* p = model.find(path);
        if (!p) {
            if (path.size() == 1 && reservedValues.count(path[0])) {
                reservedValues[path[0]] = o.value;
                continue;
            }
            std::string known;
            for (const AmiParameter& q : model.parameters)
                if (q.isInput()) known += (known.empty() ? "" : ", ") + q.dottedName();
            throw AmiFileError("unknown parameter '" + o.name + "' for model " + model.rootName +
                               " (input parameters: " + known + ")");
        }
        if (!p->isInput())
            throw AmiFileError("parameter '" + o.name + "' of model " + model.rootName +
                               " is not an input (Usage " + p->usage + ")");
        checkValue(*p, o.value, model.rootName, warnings);
        chosen[path] = o.value;
    }

    StringNode root{model.rootName, std::nullopt, {}};
    for (const AmiParameter& p : model.parameters) {
        if (!p.isInput()) continue;
        std::optional<std::string> value;
        if (auto it = chosen.find(p.path); it != chosen.end()) {
            value = it->second;
        } else if (p.path.size() == 1 && reservedValues.count(p.path[0])) {
            value = reservedValues[p.path[0]];
        } else {
            value = p.defaultValue;
        }
        if (p.path.size() == 1) reservedValues.erase(p.path[0]);
        if (!value) continue;  // nothing to pass: the model applies its own default
        StringNode* node = &root;
        for (const std::string& n : p.path) node = &node->child(n);
        node->value = formatValue(p.type, *value, p.dottedName());
    }
    for (const auto& [name, value] : reservedValues)
        root.child(name).value = formatValue("String", value, name);

    std::ostringstream os;
    root.write(os);
    return os.str();
}

}  // namespace amisim
