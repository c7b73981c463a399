#pragma once
// The receiver's database files built from a device description: one characterisation
// container per equaliser block, corner and supply, and one DFE map per VGA bandwidth.
#include <string>

#include "mkdb/rx_container_writer.hpp"
#include "mkdb/rx_device_description.hpp"

namespace mkdb {

// The contents of one characterisation file.
CtleDatabase buildBlockDatabase(const RxDescription& description, const RxBlock& block,
                                const RxCorner& corner, const RxSupply& supply);

// Name of that file: supply suffix (versioned blocks only) and corner suffix before the
// extension, as the receiver's name rules expect.
std::string blockFileName(const RxBlock& block, const RxCorner& corner, const RxSupply& supply);

// The DFE map of one VGA bandwidth and its file name (the digit before the extension).
DfeMap buildDfeMap(const RxDescription& description, const RxDfeTable& table);
std::string dfeMapFileName(const RxDescription& description, const RxDfeTable& table);

}  // namespace mkdb
