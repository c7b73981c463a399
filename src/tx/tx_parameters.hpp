#pragma once
// Reading the transmitter's parameters from the parse tree.
#include <cstdint>
#include <optional>
#include <string>

class AmiParamTree;

namespace v10kx_ami_tx {

// Value text of the leaf `name` directly under the root, or nothing when it is absent. Throws
// EBadRootName or EUnknownReturnValue for the query results that cannot happen with the tree's
// own root name.
std::optional<std::string> ReadLeaf(const AmiParamTree& tree, const std::string& name);

// Integer parameter: throws ENodeNotFound(name) when absent and EBadParamValue("name = text")
// when the text holds no integer (ScanInt of the framework: a number beyond int saturates).
std::int32_t ReadIntParam(const AmiParamTree& tree, const std::string& name);

}  // namespace v10kx_ami_tx
