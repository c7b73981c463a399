#pragma once
// Lock detector of the clock recovery, judged from the phase detector's own evidence: where the
// data transitions fall against the edge samples, and whether its early and late votes balance.
//
// The data events are taken in windows. A window with too few transitions says nothing and
// keeps the state; otherwise it passes when the transitions sit close to the edge sample on
// average and the votes cancel out. Two passing windows in a row lock, two failing ones unlock;
// the detector starts unlocked.
#include <cstdint>

struct CdrLockRule {
    std::uint32_t windowEvents = 512;  // data events per window
    std::uint32_t minTransitions = 32;
    double maxMeanDistance = 0.2;   // unit intervals from the edge sample
    double maxVoteImbalance = 0.5;  // |sum of votes| over the number of non-zero votes
    std::uint32_t windowsToLock = 2;
    std::uint32_t windowsToUnlock = 2;
};

class CdrLockDetector {
  public:
    explicit CdrLockDetector(const CdrLockRule& rule = CdrLockRule()) : rule_(rule) {}

    // One data event: whether a transition came since the last one, its distance from the edge
    // sample in unit intervals, and the phase detector's vote (-1, 0, +1).
    void AddDataEvent(bool transition, double distanceUi, int vote);

    bool IsLocked() const { return locked_; }
    // Locked, or the last window had transitions enough and balanced votes: the loop follows
    // data, though their transitions may still spread too far for a lock (an eye that an
    // equaliser has yet to open). False on a flat input.
    bool IsTracking() const { return locked_ || tracking_; }
    // Index of the data event (from 0, the first of all) at which the present locked state was
    // entered; -1 while unlocked.
    std::int64_t LockEvent() const { return locked_ ? lockEvent_ : -1; }
    std::uint64_t Events() const { return events_; }

  private:
    void CloseWindow();

    CdrLockRule rule_;
    bool locked_ = false;
    bool tracking_ = false;
    std::int64_t lockEvent_ = -1;
    std::uint64_t events_ = 0;
    std::uint32_t inWindow_ = 0;
    std::uint32_t transitions_ = 0;
    double distanceSum_ = 0;
    std::int64_t voteSum_ = 0;
    std::uint32_t votes_ = 0;
    std::uint32_t passStreak_ = 0;
    std::uint32_t failStreak_ = 0;
};
