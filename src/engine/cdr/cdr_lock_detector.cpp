#include "engine/cdr/cdr_lock_detector.hpp"

#include <cmath>
#include <cstdlib>

void CdrLockDetector::AddDataEvent(bool transition, double distanceUi, int vote) {
    ++events_;
    if (transition && std::isfinite(distanceUi)) {
        ++transitions_;
        distanceSum_ += std::fabs(distanceUi);
    }
    if (vote != 0) {
        voteSum_ += vote > 0 ? 1 : -1;
        ++votes_;
    }
    if (++inWindow_ >= rule_.windowEvents) CloseWindow();
}

void CdrLockDetector::CloseWindow() {
    // Too few transitions (a flat or nearly flat input) tell nothing either way about the
    // lock, but the loop has nothing to follow.
    tracking_ = false;
    if (transitions_ >= rule_.minTransitions) {
        const double meanDistance = distanceSum_ / transitions_;
        const bool balanced = static_cast<double>(std::llabs(voteSum_)) <=
                              rule_.maxVoteImbalance * static_cast<double>(votes_);
        tracking_ = balanced;
        if (meanDistance <= rule_.maxMeanDistance && balanced) {
            failStreak_ = 0;
            if (++passStreak_ >= rule_.windowsToLock && !locked_) {
                locked_ = true;
                lockEvent_ = static_cast<std::int64_t>(events_) - 1;
            }
        } else {
            passStreak_ = 0;
            if (++failStreak_ >= rule_.windowsToUnlock && locked_) {
                locked_ = false;
                lockEvent_ = -1;
            }
        }
    }
    inWindow_ = 0;
    transitions_ = 0;
    distanceSum_ = 0;
    voteSum_ = 0;
    votes_ = 0;
}
