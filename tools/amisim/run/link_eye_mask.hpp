#pragma once
// A link's eyes checked against an eye mask.
#include "amisim/eye/eye_mask.hpp"
#include "amisim/run/link_sim.hpp"

namespace amisim {

// Checks `mask` against both eyes of `res` that exist, inner boundaries less the receiver's
// sensitivity (as the eye heights are), and stores the checks in `res`.
void checkLinkEyeMask(const EyeMask& mask, LinkResult& res);

}  // namespace amisim
