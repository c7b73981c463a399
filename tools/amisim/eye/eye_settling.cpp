#include "amisim/eye/eye_settling.hpp"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace amisim {

namespace {

std::string mv(double v) {
    std::ostringstream os;
    os.setf(std::ios::fixed);
    os.precision(2);
    os << v * 1e3 << " mV";
    return os.str();
}

std::uint64_t roundUp(double v, std::uint64_t step) {
    const std::uint64_t n = static_cast<std::uint64_t>(std::ceil(std::max(0.0, v)));
    return (n + step - 1) / step * step;
}

bool agree(const SegmentEye& a, const SegmentEye& b) {
    const double signal = std::max(std::abs(a.signalLevel), std::abs(b.signalLevel));
    const double heights = std::max(a.eyeHeight, b.eyeHeight);
    const double tolerance = kHeightShare * std::max(heights, signal);
    if (std::abs(a.eyeHeight - b.eyeHeight) > tolerance) return false;
    return std::abs(a.signalLevel - b.signalLevel) <= kSignalShare * signal;
}

}  // namespace

SettlingCheck checkSettling(const TdEyeResult& eye, const std::optional<ClockRecoveryResult>& clock,
                            std::uint64_t bits, std::uint64_t ignoreBits) {
    SettlingCheck c;
    const SegmentEye& third = eye.lastQuarters[0];
    const SegmentEye& last = eye.lastQuarters[1];
    // the settling point seen so far, in bits from the start of the run
    double settlesAt = 0;
    bool neverLocked = false;
    if (third.bits > 0 && last.bits > 0 && !agree(third, last)) {
        c.quartersAgree = false;
        c.reasons.push_back("the eye of the third quarter of the measured bits (from bit " +
                            std::to_string(third.firstBit) + ": height " + mv(third.eyeHeight) +
                            ", signal " + mv(third.signalLevel) +
                            ") differs from that of the last quarter (from bit " +
                            std::to_string(last.firstBit) + ": height " + mv(last.eyeHeight) +
                            ", signal " + mv(last.signalLevel) + ")");
        // still changing in the third quarter: at least everything up to the last one
        settlesAt = std::max(settlesAt, static_cast<double>(last.firstBit));
    }
    if (clock) {
        const std::string who =
            clock->lockFromReceiver ? "the receiver's lock detector" : "the recovered clock period";
        if (!clock->lockBit) {
            neverLocked = true;
            c.lockedBeforeMeasuring = false;
            c.reasons.push_back("the clock recovery never settled (" + who +
                                (clock->lockFromReceiver ? " reports no lock at the end of the run)"
                                                         : " keeps moving to the end of the run)"));
        } else if (*clock->lockBit > ignoreBits) {
            c.lockedBeforeMeasuring = false;
            c.reasons.push_back("the clock recovery locked at bit " +
                                std::to_string(*clock->lockBit) + " (" + who +
                                "), after the first measured bit " + std::to_string(ignoreBits));
            settlesAt = std::max(settlesAt, static_cast<double>(*clock->lockBit));
        }
    }
    c.settled = c.reasons.empty();
    if (c.settled) return c;
    // a quarter of margin over the settling seen, and at least twice what was ignored when
    // the eye itself was still moving
    double want = 1.25 * settlesAt;
    if (!c.quartersAgree) want = std::max(want, 2.0 * static_cast<double>(ignoreBits));
    c.suggestedIgnoreBits = std::max<std::uint64_t>(roundUp(want, 1000), ignoreBits + 1000);
    c.suggestedBits = std::max(bits, 2 * c.suggestedIgnoreBits);
    std::string w = "the time-domain eye has not settled: ";
    for (std::size_t i = 0; i < c.reasons.size(); ++i) w += (i ? "; " : "") + c.reasons[i];
    if (neverLocked && c.reasons.size() == 1) {
        w += ". Ignoring more bits will not help while the clock does not lock";
    } else {
        w += ". Run with --ignore-bits " + std::to_string(c.suggestedIgnoreBits);
        if (c.suggestedBits > bits) w += " --bits " + std::to_string(c.suggestedBits);
        w += " to measure a settled eye";
    }
    c.warning = w;
    return c;
}

}  // namespace amisim
