#pragma once
// The analog ends put around the channel of a link.
#include "amisim/run/link_sim.hpp"

namespace amisim {

// The .ibs column of a model's corner setting ("0" typical, "1" fast, "2" slow; fast silicon
// drives hardest, the max column), empty for any other text; and back.
std::optional<IbisCorner> ibisCornerOfSetting(const std::string& setting);
std::string cornerSettingOf(IbisCorner corner);

// The corner the ends of `cfg` are taken at: --corner, else the models' corner parameter.
IbisCorner endsCorner(const LinkConfig& cfg);

// True when `cfg` asks for other ends than `ends` holds (another corner, or another front end
// named by the transmitter's AMI_Resolve), so that a channel built with `ends` does not fit it.
bool endsDiffer(const LinkConfig& cfg, const EndsInfo& ends);

// Replaces the ideal-ends channel of `p` by the link with the analog ends of the kit (unless
// the configuration asks for ideal ends). `data` is the Touchstone channel, null for the
// built-in line. Throws IbisError or TouchstoneError with a clear message on a bad kit file.
void applyAnalogEnds(const LinkConfig& cfg, PreparedChannel& p, const FourPortData* data);

// The transfer function of the built-in line with the ends of `ends`, on a uniform grid up to
// half the sample rate (for tests and the channel itself).
ChannelImpulse lineWithEnds(const ChannelImpulse& line, const AnalogEnds& ends, int samplesPerBit);

}  // namespace amisim
