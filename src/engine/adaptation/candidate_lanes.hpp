#pragma once
// Threads for the adaptation's candidates. CTLE settings are independent of each other, so they
// may run at once, each on a lane of its own (own buffers, own DFE), a setting with all its VGA
// gains on one lane; what the sweep makes of them is gathered in sweep order afterwards, so the
// result never depends on how many lanes ran.
//
// A simulator that runs many models side by side sets V10KX_AMI_THREADS=1 to keep each model
// on its own thread.
#include <cstddef>
#include <functional>
#include <string>

inline constexpr const char* kThreadsVariable = "V10KX_AMI_THREADS";

struct ThreadSetting {
    std::size_t threads = 1;
    std::string warning;  // a WARNING line (with "\n") when the variable's text was unusable
};

// Threads from the text of V10KX_AMI_THREADS (null: not set) on a machine of `cores` cores: a
// positive whole number, at most `cores`; unset means `cores`; anything else means `cores`
// with a warning.
ThreadSetting ParseThreadSetting(const char* text, std::size_t cores);
// The same from the process's environment and the machine's cores.
ThreadSetting ModelThreadSetting();

// Runs task(index, lane) for index 0 .. count-1 on min(lanes, count) threads, the calling
// thread being lane 0; a lane runs its tasks one after another. Returns when every task has
// finished; the exception of the lowest failed index is then rethrown.
void RunInLanes(std::size_t count, std::size_t lanes,
                const std::function<void(std::size_t index, std::size_t lane)>& task);
