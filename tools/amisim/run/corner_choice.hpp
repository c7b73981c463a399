#pragma once
// One process corner for a link: the models' corner parameters and the corner of the analog
// ends agree, whichever of them the user set.
#include <vector>

#include "amisim/run/link_sim.hpp"
#include "amisim/run/sweep_point.hpp"

namespace amisim {

// With --corner (cfg.corner set), gives each model whose .ami declares a `corner` input that
// corner, unless the user set it alike; without it the ends follow the models (endsCorner).
// Throws std::invalid_argument with a clear message when --corner and a model's corner (given
// by --tx/--rx or swept) differ.
void settleCorner(LinkConfig& cfg, const std::vector<SweepAxis>& axes);

}  // namespace amisim
