#pragma once
// The Touchstone file of a link's channel: a four-port file as it is, or the through pair that
// --ports names in a file of more ports.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "amisim/channel/touchstone.hpp"

namespace amisim {

// Reads the Touchstone file `path`: a four-port as it is, or the through pair `throughPorts`
// (input P, N, output P, N) of a larger file, with a warning naming the ports left out.
FourPortData readChannelFile(const std::string& path,
                             const std::optional<std::array<int, 4>>& throughPorts,
                             std::vector<std::string>& warnings);

std::string throughPortsText(const std::array<int, 4>& p);

}  // namespace amisim
