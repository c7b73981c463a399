#pragma once
// Settings a sweep cannot vary: a receiver that adapts its own gains replaces the values it
// was given, so sweeping them gives the same eye at every point.
#include <string>
#include <vector>

#include "amisim/host/ami_file.hpp"
#include "amisim/run/link_sim.hpp"
#include "amisim/run/sweep_point.hpp"

namespace amisim {

// Returns a warning for each axis the receiver overrides at some points of the grid; throws
// std::invalid_argument when it overrides an axis at every point (the sweep could not vary
// it), saying which setting lets it through.
std::vector<std::string> checkOverriddenAxes(const std::vector<SweepAxis>& axes,
                                             const LinkConfig& base, const AmiModelFile& rx);

}  // namespace amisim
