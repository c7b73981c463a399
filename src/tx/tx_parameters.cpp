#include "tx/tx_parameters.hpp"

#include <cctype>
#include <limits>

#include "framework/ami_exceptions.hpp"
#include "framework/ami_tree.hpp"

namespace v10kx_ami_tx {

std::optional<std::int32_t> ScanInt(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    std::int64_t magnitude = 0;
    constexpr std::int64_t kCap = std::int64_t{1} << 32;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > kCap) magnitude = kCap;
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

std::optional<std::string> ReadLeaf(const AmiParamTree& tree, const std::string& name) {
    std::string value;
    switch (tree.GetLeaf({tree.rootName, name}, value)) {
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
