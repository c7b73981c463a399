#pragma once
// The receiver held where its adaptation left it in a run: the gains it chose, set by hand with
// the adaptation off, so that another instance equalises alike at the cost of a plain AMI_Init.
#include <optional>
#include <vector>

#include "amisim/run/link_sim.hpp"

namespace amisim {

// The overrides that pin the receiver of `res` at its adapted gains (to follow the run's own
// overrides, which they replace where they name the same parameter). Empty when the receiver
// did not adapt or declares no ctle_mode to switch the adaptation off.
std::optional<std::vector<ParamOverride>> adaptedGainOverrides(const LinkResult& res);

}  // namespace amisim
