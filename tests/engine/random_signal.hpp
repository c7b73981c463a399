#pragma once
// Reproducible test signals for the engine tests.
#include <random>
#include <vector>

namespace enginetest {

// n values drawn evenly from [-1, 1), the same for the same seed.
inline std::vector<double> RandomSignal(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> x(n);
    for (double& v : x) v = u(rng);
    return x;
}

}  // namespace enginetest
