#include "amisim/real_fft.hpp"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_fft_halfcomplex.h>
#include <gsl/gsl_fft_real.h>

#include <stdexcept>
#include <string>

namespace amisim {

bool isPowerOfTwo(std::size_t n) { return n >= 2 && (n & (n - 1)) == 0; }

std::size_t nextPowerOfTwo(std::size_t n) {
    std::size_t p = 2;
    while (p < n) p <<= 1;
    return p;
}

namespace {
void checkSize(std::size_t n) {
    if (!isPowerOfTwo(n))
        throw std::invalid_argument("FFT size " + std::to_string(n) + " is not a power of two");
}
}  // namespace

std::vector<std::complex<double>> realForward(const std::vector<double>& x) {
    const std::size_t n = x.size();
    checkSize(n);
    std::vector<double> data = x;
    if (gsl_fft_real_radix2_transform(data.data(), 1, n) != GSL_SUCCESS)
        throw std::runtime_error("real FFT failed");
    // radix-2 half-complex layout: re[0], re[1..n/2], im[n/2-1..1] stored backwards
    std::vector<std::complex<double>> X(n / 2 + 1);
    X[0] = {data[0], 0.0};
    for (std::size_t k = 1; k < n / 2; ++k) X[k] = {data[k], data[n - k]};
    X[n / 2] = {data[n / 2], 0.0};
    return X;
}

std::vector<double> realInverse(const std::vector<std::complex<double>>& spectrum, std::size_t n) {
    checkSize(n);
    if (spectrum.size() != n / 2 + 1)
        throw std::invalid_argument("spectrum size does not match the FFT size");
    std::vector<double> data(n);
    data[0] = spectrum[0].real();
    for (std::size_t k = 1; k < n / 2; ++k) {
        data[k] = spectrum[k].real();
        data[n - k] = spectrum[k].imag();
    }
    data[n / 2] = spectrum[n / 2].real();
    if (gsl_fft_halfcomplex_radix2_inverse(data.data(), 1, n) != GSL_SUCCESS)
        throw std::runtime_error("inverse real FFT failed");
    return data;
}

}  // namespace amisim
