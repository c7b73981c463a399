#include "engine/real_signal_transforms.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

void SpectrumOfReal(const std::vector<double>& signal, ComplexBuffer& spectrum) {
    RealForward(spectrum, signal);
}

void RealOfSymmetricSpectrum(const ComplexBuffer& spectrum, std::vector<double>& signal) {
    const std::size_t n = spectrum.count;
    signal.resize(n);
    if (n == 0) return;
    if (spectrum.data.size() != 2 * n) {
        throw FftError("RealOfSymmetricSpectrum: a spectrum of " + std::to_string(n) +
                       " points holds " + std::to_string(spectrum.data.size()) + " values");
    }
    const double* y = spectrum.data.data();
    if (n % 2 != 0) {
        ComplexBuffer full = spectrum;
        ComplexInverse(full);
        for (std::size_t j = 0; j < n; ++j) signal[j] = full.data[2 * j];
        return;
    }
    // With E and O the half-length spectra of the even and odd samples,
    // Y[k] = E[k] + w^k O[k] and Y[k + m] = E[k] - w^k O[k], w = exp(-2 pi i / n); the
    // half-length signal even + i * odd has the spectrum E + i O.
    const std::size_t m = n / 2;
    ComplexBuffer half(static_cast<std::uint32_t>(m));
    double* z = half.data.data();
    const double step = 2 * std::numbers::pi / static_cast<double>(n);
    for (std::size_t k = 0; k < m; ++k) {
        const double aRe = y[2 * k], aIm = y[2 * k + 1];
        const double bRe = y[2 * (k + m)], bIm = y[2 * (k + m) + 1];
        const double eRe = 0.5 * (aRe + bRe), eIm = 0.5 * (aIm + bIm);
        const double dRe = 0.5 * (aRe - bRe), dIm = 0.5 * (aIm - bIm);
        const double c = std::cos(step * static_cast<double>(k));
        const double s = std::sin(step * static_cast<double>(k));
        // O = d * exp(+i step k)
        const double oRe = dRe * c - dIm * s, oIm = dRe * s + dIm * c;
        z[2 * k] = eRe - oIm;
        z[2 * k + 1] = eIm + oRe;
    }
    ComplexInverse(half);
    std::copy(half.data.begin(), half.data.end(), signal.begin());
}
