#pragma once
// The --list-params text: each model's parameters with usage, type, allowed values or range,
// default, the meaning of each list entry and the description.
#include <ostream>
#include <string>

#include "amisim/host/ami_file.hpp"

namespace amisim {

void listParameters(std::ostream& os, const AmiModelFile& model, const std::string& role,
                    const std::string& amiPath);

}  // namespace amisim
