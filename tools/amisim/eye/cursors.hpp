#pragma once
// Cursor values of a pulse response: its samples one unit interval apart, counted from the
// main cursor (negative: pre-cursors).
#include <vector>

#include "amisim/eye/stat_eye.hpp"

namespace amisim {

struct Cursor {
    int index = 0;
    double volts = 0;
};

// Pre-cursors -pre .. -1, the main cursor 0 and post-cursors up to `maxPost` (fewer where the
// pulse ends).
std::vector<Cursor> pulseCursors(const PulseResponse& pulse, int pre = 3, int maxPost = 40);

}  // namespace amisim
