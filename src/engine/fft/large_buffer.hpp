#pragma once
// Memory for the large sample and spectrum buffers (megabytes each): mapped on its own and, where
// the system allows, backed by huge pages. Touching fresh memory costs a page fault per 4 KiB
// page, and a sweep of the equaliser adaptation touches a hundred megabytes of it in every
// AMI_Init: on huge pages that is a few dozen faults instead of tens of thousands. Smaller
// requests go to the ordinary heap. Memory comes zeroed either way.
#include <cstddef>
#include <new>
#include <vector>

// At least `bytes` of zeroed memory, aligned to 64 bytes or more; std::bad_alloc when there is
// none. Give it back with FreeLarge and the same `bytes`.
void* AllocateLarge(std::size_t bytes);
void FreeLarge(void* memory, std::size_t bytes) noexcept;

// A standard allocator on AllocateLarge, for vectors of samples and bins.
template <class T>
struct LargeAllocator {
    using value_type = T;
    LargeAllocator() = default;
    template <class U>
    LargeAllocator(const LargeAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        return static_cast<T*>(AllocateLarge(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept { FreeLarge(p, n * sizeof(T)); }
    template <class U>
    bool operator==(const LargeAllocator<U>&) const noexcept {
        return true;
    }
};

// Samples of a waveform held in large-buffer memory.
using SampleBuffer = std::vector<double, LargeAllocator<double>>;
