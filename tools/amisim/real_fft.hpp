#pragma once
// Power-of-two real FFT on GSL's radix-2 routines, with spectra as N/2+1 complex bins.
#include <complex>
#include <cstddef>
#include <vector>

namespace amisim {

bool isPowerOfTwo(std::size_t n);
std::size_t nextPowerOfTwo(std::size_t n);

// Forward transform of `n` real samples (n a power of two, at least 2): X[k] = sum x[t] e^{-2pi i
// kt/n}.
std::vector<std::complex<double>> realForward(const std::vector<double>& x);

// Inverse of realForward, including the 1/n factor; `spectrum` holds n/2+1 bins.
std::vector<double> realInverse(const std::vector<std::complex<double>>& spectrum, std::size_t n);

}  // namespace amisim
