#include "engine/adaptation/candidate_lanes.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <thread>
#include <vector>

ThreadSetting ParseThreadSetting(const char* text, std::size_t cores) {
    ThreadSetting setting;
    cores = std::max<std::size_t>(cores, 1);
    setting.threads = cores;
    if (text == nullptr) return setting;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || value < 1) {
        setting.warning = std::string("WARNING: ") + kThreadsVariable + " is '" + text +
                          "', not a positive whole number; using " + std::to_string(cores) +
                          " threads\n";
        return setting;
    }
    setting.threads = std::min(static_cast<std::size_t>(value), cores);
    return setting;
}

ThreadSetting ModelThreadSetting() {
    return ParseThreadSetting(std::getenv(kThreadsVariable), std::thread::hardware_concurrency());
}

void RunInLanes(std::size_t count, std::size_t lanes,
                const std::function<void(std::size_t, std::size_t)>& task) {
    lanes = std::clamp<std::size_t>(lanes, 1, std::max<std::size_t>(count, 1));
    std::vector<std::exception_ptr> errors(count);
    std::atomic<std::size_t> next{0};
    auto lane = [&](std::size_t id) {
        for (std::size_t i = next++; i < count; i = next++) {
            try {
                task(i, id);
            } catch (...) {
                errors[i] = std::current_exception();
            }
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(lanes - 1);
    try {
        for (std::size_t id = 1; id < lanes; ++id) threads.emplace_back(lane, id);
    } catch (...) {
        // No thread to be had: the lanes that started, and this one, do the work.
    }
    lane(0);
    for (std::thread& t : threads) t.join();
    for (const std::exception_ptr& e : errors) {
        if (e) std::rethrow_exception(e);
    }
}
