#include "amisim/host/param_listing.hpp"

#include <algorithm>
#include <sstream>

namespace amisim {

namespace {

std::string joined(const std::vector<std::string>& v, const std::string& sep) {
    std::string s;
    for (const std::string& x : v) s += (s.empty() ? "" : sep) + x;
    return s;
}

std::string number(double v) {
    std::ostringstream os;
    os << v;
    return os.str();
}

// Wraps `text` at about `width` characters, every line after the first indented by `indent`.
std::string wrapped(const std::string& text, std::size_t width, const std::string& indent) {
    std::istringstream in(text);
    std::string word, out, line;
    while (in >> word) {
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            out += line + "\n" + indent;
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    return out + line;
}

}  // namespace

void listParameters(std::ostream& os, const AmiModelFile& model, const std::string& role,
                    const std::string& amiPath) {
    os << role << " " << model.rootName << " (" << amiPath << ")\n";
    std::size_t nameWidth = 4;
    for (const AmiParameter& p : model.parameters)
        nameWidth = std::max(nameWidth, p.dottedName().size());
    const std::string indent(nameWidth + 4, ' ');
    for (const std::string usage : {"In", "InOut", "Out", "Info"}) {
        for (const AmiParameter& p : model.parameters) {
            if (p.usage != usage) continue;
            std::string name = p.dottedName();
            name.resize(nameWidth, ' ');
            os << "  " << name << "  " << p.usage << ", " << (p.type.empty() ? "?" : p.type);
            if (!p.allowed.empty()) os << ", one of " << joined(p.allowed, " ");
            if (p.range)
                os << ", range " << number(p.range->first) << " .. " << number(p.range->second);
            if (p.defaultValue)
                os << ", " << (p.isInput() ? "default " : "value ")
                   << (p.defaultValue->empty() ? "\"\"" : *p.defaultValue);
            os << "\n";
            if (!p.listTips.empty()) {
                std::vector<std::string> tips;
                for (std::size_t i = 0; i < p.listTips.size(); ++i)
                    tips.push_back((i < p.allowed.size() ? p.allowed[i] : "?") + " = " +
                                   p.listTips[i]);
                os << indent << wrapped(joined(tips, ", "), 70, indent) << "\n";
            }
            if (!p.description.empty()) os << indent << wrapped(p.description, 70, indent) << "\n";
        }
    }
    os << "\n";
}

}  // namespace amisim
