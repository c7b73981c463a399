#include "engine/fft/large_buffer.hpp"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kPage = 4096;
// Below this a request is served by the heap: a mapping of its own would cost more than the
// faults it saves. Under AddressSanitizer everything is, so that overruns are still caught
// (g++ says so with a macro, clang with a feature test).
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define V10KX_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(V10KX_ADDRESS_SANITIZER)
constexpr std::size_t kLargeFrom = static_cast<std::size_t>(-1);
#else
constexpr std::size_t kLargeFrom = std::size_t{1} << 20;
#endif

constexpr std::size_t kLargestRequest = std::size_t{1} << 48;

std::size_t RoundUp(std::size_t value, std::size_t to) { return (value + to - 1) / to * to; }

// The mapping of a large request: whole 4 KiB pages, starting on a huge-page boundary.
std::size_t MappedBytes(std::size_t bytes) { return RoundUp(bytes, kPage); }

}  // namespace

void* AllocateLarge(std::size_t bytes) {
    // More than any machine maps: refused here, before an allocator that would rather abort.
    if (bytes > kLargestRequest) throw std::bad_alloc();
    if (bytes < kLargeFrom) {
        void* memory = nullptr;
        if (posix_memalign(&memory, 64, bytes == 0 ? 1 : bytes) != 0) throw std::bad_alloc();
        std::memset(memory, 0, bytes);
        return memory;
    }
    const std::size_t length = MappedBytes(bytes);
    // Room to put the start on a huge-page boundary; the slack on either side goes back.
    void* raw = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = RoundUp(start, kHugePage);
    if (aligned > start) munmap(raw, aligned - start);
    const std::uintptr_t end = start + length + kHugePage;
    if (end > aligned + length) {
        munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
    }
    // Only whole huge pages: the tail stays on small pages, so that nothing past the request
    // is ever made resident. Without huge pages on the system the advice is refused, harmlessly.
    const std::size_t huge = bytes / kHugePage * kHugePage;
    if (huge > 0) madvise(reinterpret_cast<void*>(aligned), huge, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

void FreeLarge(void* memory, std::size_t bytes) noexcept {
    if (memory == nullptr) return;
    if (bytes < kLargeFrom) {
        std::free(memory);
        return;
    }
    munmap(memory, MappedBytes(bytes));
}
