#pragma once
// Transforms between time and frequency domain for the receiver.
//
// The reference engine of the FFT wrapper (real_fft_plan.hpp). Three mixed-radix operations
// (any length >= 1) keep cached plans keyed by length, one slot per operation; calling an
// operation with length 0 empties its slot. A power-of-two transform and an adaptor giving the
// mixed-radix engine the same calling form are chosen by Transform's argument.
//
// Plan slots are per thread: two model instances driven from two threads never share tables.
#include <cstdint>
#include <vector>

#include "engine/fft/fft_error.hpp"

// count complex points, interleaved real, imaginary, real, imaginary... (data.size() == 2*count).
// The buffer owns its storage, so replacing or emptying it never leaks.
struct ComplexBuffer {
    std::uint32_t count = 0;
    std::vector<double> data;

    ComplexBuffer() = default;
    explicit ComplexBuffer(std::uint32_t n)
        : count(n), data(2 * static_cast<std::size_t>(n), 0.0) {}
};

// out = full spectrum X[k] = sum_j x[j] exp(-2 pi i jk/n), k = 0..n-1, unscaled; X[n-k] is the
// conjugate of X[k]. An empty x empties the real-forward plan slot and leaves out empty.
void RealForward(ComplexBuffer& out, const std::vector<double>& x);

// In place, unscaled forward transform. count 0 empties the complex-forward slot (and buf).
void ComplexForward(ComplexBuffer& buf);

// In place inverse transform including the 1/n factor, so ComplexInverse undoes ComplexForward.
// count 0 empties the complex-inverse slot (and buf).
void ComplexInverse(ComplexBuffer& buf);

// Empties all three plan slots of the calling thread.
void ReleaseAll();

// One-based interleaved arrays: point k (0 <= k < n) has its real part at data[2k+1] and its
// imaginary part at data[2k+2]; data[0] is unused, so the array holds at least 2n+1 doubles.

// In place, unscaled: X[k] = sum_j x[j] exp(+2 pi i sign jk/n), sign = +1 or -1. n must be a
// power of two (FftError otherwise).
void Radix2Transform(double* data, std::uint32_t n, int sign);

// The mixed-radix engine in the calling form of Radix2Transform, for any n >= 1:
// sign -1: RealForward of the real parts (imaginary parts ignored);
// other signs: ComplexInverse (result carries the factor 1/n).
void Four1Adaptor(double* data, std::uint32_t n, int sign);

// Which transform Transform runs.
enum class ReferenceTransform { MixedRadix, Radix2 };

// Four1Adaptor for MixedRadix, Radix2Transform for Radix2. The two differ: for sign +1 by the
// factor 1/n, for sign -1 in ignoring (adaptor) or using (radix-2) the imaginary input.
void Transform(double* data, std::uint32_t n, int sign, ReferenceTransform kind);

// Checked forms: FftError unless data holds at least 2n+1 doubles.
void Radix2Transform(std::vector<double>& data, std::uint32_t n, int sign);
void Four1Adaptor(std::vector<double>& data, std::uint32_t n, int sign);
void Transform(std::vector<double>& data, std::uint32_t n, int sign, ReferenceTransform kind);
