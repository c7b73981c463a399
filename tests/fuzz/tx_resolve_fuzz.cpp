// The parameter string through the transmitter's AMI_Resolve and AMI_Resolve_Close. What comes
// back must be a parameter string again: it parses, and its root holds the two leaves.
#include <cstdlib>
#include <string>

#include "framework/ami_exceptions.hpp"
#include "framework/ami_tree.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = fuzz::AsText(data, size);
    if (text.find('\0') != std::string::npos) return 0;  // a C string ends at its first zero
    char* resolved = nullptr;
    if (AMI_Resolve(nullptr, text.c_str(), &resolved) != 1 || !resolved) return 0;
    const std::string out = resolved;
    AMI_Resolve_Close(resolved);
    try {
        const AmiParamTree tree(out);
        std::string value;
        if (tree.GetLeaf({tree.rootName, "Tx_R"}, value) != 0 || value.empty()) abort();
        if (tree.GetLeaf({tree.rootName, "Tstonefile"}, value) != 0 ||
            value.rfind("v10tx_afe_", 0) != 0) {
            abort();
        }
    } catch (const EFailedParse&) {
        abort();  // a result that no longer parses
    }
    return 0;
}
