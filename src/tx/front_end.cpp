#include "tx/front_end.hpp"

#include <sstream>
#include <vector>

#include "framework/ami_tree.hpp"
#include "framework/param_queries.hpp"
#include "tx/text_lines.hpp"

namespace v10kx_ami_tx {

namespace {

// Source resistance by termination (row: 100 ohm, 85 ohm) and corner (0 typical, 1 fast, 2 slow).
constexpr double kTxR[2][3] = {{50, 46, 52.5}, {43, 40, 45.5}};
constexpr const char* kCornerCode[3] = {"tt", "ff", "ss"};

bool Leaf(const AmiParamTree* tree, const char* name, std::string& value) {
    return tree && LookUpParam(*tree, {name}, value) == 0;
}

std::string FormatDouble(double v) {
    std::ostringstream out;
    out << v;
    return out.str();
}

}  // namespace

FrontEnd SelectFrontEnd(const AmiParamTree* tree) {
    std::string value;
    const bool rterm85 = Leaf(tree, "rterm", value) && value == "85";
    int corner = 0;
    if (Leaf(tree, "corner", value)) corner = value == "0" ? 0 : (value == "2" ? 2 : 1);
    const double slew = Leaf(tree, "slew", value) ? ParseLenient(value) : 0.0;

    FrontEnd fe;
    fe.txR = kTxR[rterm85 ? 1 : 0][corner];
    // Settings 0..5 (after truncation) pick one of six slew variants; anything else the default.
    if (slew > -1.0 && slew < 6.0) {
        const int index = static_cast<int>(slew) + 1;
        fe.touchstoneFile =
            std::string("v10tx_afe_") + kCornerCode[corner] + "_" + std::to_string(index) + ".s4p";
    } else {
        fe.touchstoneFile = "v10tx_afe_tt_1.s4p";
    }
    return fe;
}

std::string ResolveFrontEnd(const AmiParamTree* tree, const std::string& text) {
    const FrontEnd fe = SelectFrontEnd(tree);
    const std::string txR = FormatDouble(fe.txR);
    bool found = false;
    std::string t = ReplaceLeafValue(text, "Tx_R", txR, found);
    if (!found) t = AppendLeaf(text, "Tx_R", txR);
    const std::string quoted = "\"" + fe.touchstoneFile + "\"";
    std::string r = ReplaceLeafValue(t, "Tstonefile", quoted, found);
    if (!found) r = AppendLeaf(t, "Tstonefile", quoted);
    return r;
}

std::string ReplaceLeafValue(const std::string& text, const std::string& name,
                             const std::string& value, bool& found) {
    std::vector<std::string> tokens;
    std::string token;
    for (char c : text) {
        if (c == ' ' || c == '\n' || c == '\t' || c == '\r') {
            if (!token.empty()) tokens.push_back(std::move(token));
            token.clear();
        } else {
            token += c;
        }
    }
    if (!token.empty()) tokens.push_back(std::move(token));

    found = false;
    std::string result;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const std::string& tok = tokens[i];
        const std::string candidate = tok.size() >= 2 && tok[0] == '(' ? tok.substr(1) : tok;
        // A name with no token after it has no value to replace: it stays as it is.
        if (tok.size() < 2 || candidate != name || i + 1 == tokens.size()) {
            result += tok;
            result += ' ';
            continue;
        }
        const std::string& old = tokens[i + 1];
        const std::size_t closers = old.size() - (old.find_last_not_of(')') + 1);
        result += "(" + name + " " + value + std::string(closers, ')') + " ";
        ++i;
        found = true;
    }
    return result;
}

std::string AppendLeaf(const std::string& text, const std::string& name, const std::string& value) {
    const std::size_t last = text.rfind(')');
    if (last == std::string::npos) return {};
    std::string result = text.substr(0, last);
    if (last > 0 && text[last - 1] != ' ') result += ' ';
    result += "(" + name + " " + value + "))";
    return result;
}

}  // namespace v10kx_ami_tx
