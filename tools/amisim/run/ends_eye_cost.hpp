#pragma once
// What the analog ends cost in statistical eye height: the link's eye against the same link
// between ideal ends, with the receiver at the settings its adaptation chose on the real one.
#include "amisim/run/link_sim.hpp"

namespace amisim {

// Sets res.channel.ends.eyeHeightCostV and says on what settings it was measured. The
// receiver does not adapt again: it is held at the gains it chose in `res`, so the comparison
// is at one equaliser setting and costs a plain AMI_Init. Leaves `res` alone when it has no
// statistical eye or no analog ends.
void measureEndsEyeCost(const LinkConfig& cfg, LinkResult& res);

}  // namespace amisim
