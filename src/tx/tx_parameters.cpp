#include "tx/tx_parameters.hpp"

#include "framework/ami_exceptions.hpp"
#include "framework/ami_tree.hpp"
#include "framework/param_queries.hpp"

namespace v10kx_ami_tx {

std::optional<std::string> ReadLeaf(const AmiParamTree& tree, const std::string& name) {
    std::string value;
    switch (LookUpParam(tree, {name}, value)) {
        case 0:
            return value;
        case 1:
            throw EBadRootName(tree.rootName);
        case 2:
            return std::nullopt;
        default:
            throw EUnknownReturnValue("GetLeaf()");
    }
}

std::int32_t ReadIntParam(const AmiParamTree& tree, const std::string& name) {
    const std::optional<std::string> text = ReadLeaf(tree, name);
    if (!text) throw ENodeNotFound(name);
    const std::optional<std::int32_t> value = ScanInt(*text);
    if (!value) throw EBadParamValue(name + " = " + *text);
    return *value;
}

}  // namespace v10kx_ami_tx
