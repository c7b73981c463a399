// The parameter string through the transmitter's AMI_Resolve and AMI_Resolve_Close. What comes
// back must be a parameter string again: it parses, its root holds the two leaves, and every
// other list and value is the input's, in the same order.
#include <cstdlib>
#include <string>
#include <vector>

#include "framework/ami_exceptions.hpp"
#include "framework/ami_tree.hpp"
#include "fuzz_support.hpp"

namespace {

bool Resolved(const ts_ami::AmiTree& t) { return t.name == "Tx_R" || t.name == "Tstonefile"; }

void Collect(const ts_ami::AmiTree& tree, const std::string& path, bool root,
             std::vector<std::string>& out) {
    for (std::size_t i = 0; i < tree.children.size(); ++i) {
        if (const auto* text = boost::get<std::string>(&tree.children[i])) {
            if (i != 0 || !Resolved(tree)) out.push_back(path + "=" + *text);
            continue;
        }
        const auto& list = boost::get<ts_ami::AmiTree>(tree.children[i]);
        if (!root || !Resolved(list)) out.push_back(path + "/" + list.name);
        Collect(list, path + "/" + list.name, false, out);
    }
}

std::vector<std::string> Others(const AmiParamTree& tree) {
    std::vector<std::string> out;
    Collect(tree.root, "", true, out);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = fuzz::AsText(data, size);
    if (text.find('\0') != std::string::npos) return 0;  // a C string ends at its first zero
    char* resolved = nullptr;
    if (AMI_Resolve(nullptr, text.c_str(), &resolved) != 1 || !resolved) return 0;
    const std::string out = resolved;
    AMI_Resolve_Close(resolved);
    try {
        const AmiParamTree in(text);
        const AmiParamTree tree(out);
        std::string value;
        if (tree.GetLeaf({tree.rootName, "Tx_R"}, value) != 0 || value.empty()) abort();
        if (tree.GetLeaf({tree.rootName, "Tstonefile"}, value) != 0 ||
            value.rfind("v10tx_afe_", 0) != 0) {
            abort();
        }
        if (Others(tree) != Others(in)) abort();
    } catch (const EFailedParse&) {
        abort();  // AMI_Resolve took a string that does not parse, or gave one back
    }
    return 0;
}
