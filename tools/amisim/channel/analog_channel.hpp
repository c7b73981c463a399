#pragma once
// The analog ends put around the channel of a link, and what they cost in eye height.
#include "amisim/run/link_sim.hpp"

namespace amisim {

// Replaces the ideal-ends channel of `p` by the link with the analog ends of the kit (unless
// the configuration asks for ideal ends). `data` is the Touchstone channel, null for the
// built-in line. Throws IbisError or TouchstoneError with a clear message on a bad kit file.
void applyAnalogEnds(const LinkConfig& cfg, PreparedChannel& p, const FourPortData* data);

// The transfer function of the built-in line with the ends of `ends`, on a uniform grid up to
// half the sample rate (for tests and the channel itself).
ChannelImpulse lineWithEnds(const ChannelImpulse& line, const AnalogEnds& ends, int samplesPerBit);

// The statistical eye height the ends cost: the same link run in statistical mode with ideal
// ends, compared with `res`. Leaves `res` alone when it has no statistical eye or no ends.
void measureEndsEyeCost(const LinkConfig& cfg, LinkResult& res);

}  // namespace amisim
