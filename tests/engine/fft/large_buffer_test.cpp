// Large-buffer memory: zeroed, aligned and fully usable on both sides of the size from which it is
// mapped on its own (huge pages or not), and refused cleanly when no such size can exist.
#include "engine/fft/large_buffer.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <new>

TEST(LargeBuffer, ZeroedAlignedAndWritableAtEverySize) {
    // Small (heap), just below and above a huge page, several huge pages and a ragged tail.
    for (std::size_t bytes : {std::size_t{24}, std::size_t{1} << 19, (std::size_t{2} << 20) - 8,
                              (std::size_t{2} << 20) + 8, (std::size_t{9} << 20) + 4104}) {
        auto* p = static_cast<unsigned char*>(AllocateLarge(bytes));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 64, 0u) << bytes;
        std::size_t nonZero = 0;
        for (std::size_t i = 0; i < bytes; ++i) nonZero += p[i] != 0;
        EXPECT_EQ(nonZero, 0u) << bytes;
        p[0] = 1;
        p[bytes - 1] = 2;  // the last byte asked for is ours
        FreeLarge(p, bytes);
    }
    EXPECT_THROW(AllocateLarge(std::numeric_limits<std::size_t>::max() - 16), std::bad_alloc);
}

TEST(LargeBuffer, SampleBuffersBehaveAsVectors) {
    SampleBuffer a(600000, 0.25);
    a.push_back(1.0);  // grows into a new mapping and moves what it holds
    SampleBuffer b = a;
    EXPECT_EQ(a, b);
    EXPECT_EQ(b.size(), 600001u);
    EXPECT_EQ(b.front(), 0.25);
    EXPECT_EQ(b.back(), 1.0);
}
