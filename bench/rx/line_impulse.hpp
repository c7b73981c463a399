#pragma once
// The receiver benchmarks' channel: a lossy line's impulse response with a slow rise and a long
// tail, on a grid of `samplesPerBit` samples of `sampleInterval` seconds (in 1/s, as an impulse
// response is).
#include <cmath>
#include <cstddef>
#include <vector>

inline std::vector<double> LineImpulse(std::size_t n, int samplesPerBit, double sampleInterval) {
    std::vector<double> h(n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / samplesPerBit;  // in bits
        h[i] = t * std::exp(-t / 1.5) / sampleInterval * 0.1;
    }
    return h;
}
