#pragma once
// Parse tree of an IBIS-AMI parameter string.
#include <boost/variant/get.hpp>
#include <boost/variant/recursive_variant.hpp>
#include <string>
#include <vector>

namespace ts_ami {

struct AmiTree;

// Nested list first, text second: a default-made element is an empty nested list.
using AmiNode = boost::variant<boost::recursive_wrapper<AmiTree>, std::string>;

struct AmiTree {
    std::string name;
    std::vector<AmiNode> children;
};

}  // namespace ts_ami

// Owner of one parse. Built only by parsing; never changed afterwards.
class AmiParamTree {
  public:
    // Parses `text`; throws EFailedParse ("Parse failed at: <rest>\nin: <whole>") on failure.
    explicit AmiParamTree(const std::string& text);

    // Path query: path[0] is the root name, then list names down to the leaf list.
    // Returns 0 found (value = first child text trimmed of blanks and tabs, or empty),
    // 1 root name differs, 2 not found. `value` is written only on 0.
    int GetLeaf(const std::vector<std::string>& path, std::string& value) const;

    std::string rootName;
    ts_ami::AmiTree root;
};
