#pragma once
// Test models throw whatever the parameter string asks for, to prove that no exception of any
// kind crosses the C interface.
#include <new>
#include <stdexcept>
#include <string>

#include "framework/ami_exceptions.hpp"
#include "framework/ami_tree.hpp"
#include "framework/ts_exceptions.hpp"

namespace abi_test {

// (leaf ami|ts|std|alloc|int) under the root selects the exception.
inline void ThrowOnRequest(const AmiParamTree& tree, const char* leaf) {
    std::string kind;
    if (tree.GetLeaf({tree.rootName, leaf}, kind) != 0) return;
    if (kind == "ami") throw EBadParamValue(std::string(leaf) + " = ami");
    if (kind == "ts") throw EBadInitializers("test filter");
    if (kind == "std") throw std::runtime_error("test runtime error");
    if (kind == "alloc") throw std::bad_alloc();
    if (kind == "int") throw 42;
}

}  // namespace abi_test
