#pragma once
// The Touchstone file of a link's channel: a four-port file as it is, or the through pair that
// --ports names in a file of more ports.
#include <array>
#include <string>
#include <vector>

#include "amisim/run/link_sim.hpp"

namespace amisim {

// Reads cfg.s4pFile; adds a warning naming the ports left out of a larger file.
FourPortData readChannelFile(const LinkConfig& cfg, std::vector<std::string>& warnings);

std::string throughPortsText(const std::array<int, 4>& p);

}  // namespace amisim
