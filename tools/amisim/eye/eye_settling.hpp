#pragma once
// Has the time-domain eye settled? The eye of the third quarter of the measured bits against
// that of the last quarter, and the bit at which the clock recovery locked against the first
// measured bit; when they disagree, the ignored bits that would settle it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "amisim/eye/clock_recovery.hpp"
#include "amisim/eye/td_eye.hpp"

namespace amisim {

struct SettlingCheck {
    bool settled = true;
    bool quartersAgree = true;
    bool lockedBeforeMeasuring = true;  // also true when there is no clock recovery to lock
    std::vector<std::string> reasons;   // why it has not settled, a phrase each
    std::uint64_t suggestedIgnoreBits = 0, suggestedBits = 0;  // when not settled
    std::string warning;                                       // the whole sentence
};

// Quarter eyes agree when their heights differ by at most this share of the larger one or of
// the signal level, and their signal levels by at most kSignalShare.
constexpr double kHeightShare = 0.15;
constexpr double kSignalShare = 0.05;

SettlingCheck checkSettling(const TdEyeResult& eye, const std::optional<ClockRecoveryResult>& clock,
                            std::uint64_t bits, std::uint64_t ignoreBits);

}  // namespace amisim
