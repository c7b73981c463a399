#include "engine/fft/real_signal_transforms.hpp"

#include <string>

#include "engine/fft/fft_service.hpp"
#include "engine/fft/real_fft_plan.hpp"

std::vector<std::complex<double>> HalfSpectrumOfReal(const std::vector<double>& signal) {
    const std::size_t n = signal.size();
    if (n == 0) return {};
    if (n % 2 == 0) return RealSpectrum(signal);
    ComplexBuffer full;
    RealForward(full, signal);
    std::vector<std::complex<double>> bins(n / 2 + 1);
    for (std::size_t k = 0; k < bins.size(); ++k)
        bins[k] = {full.data[2 * k], full.data[2 * k + 1]};
    return bins;
}

std::vector<double> RealOfHalfSpectrum(const std::vector<std::complex<double>>& bins,
                                       std::size_t n) {
    if (n == 0) return {};
    if (bins.size() != n / 2 + 1) {
        throw FftError(std::to_string(bins.size()) + " bins do not describe " + std::to_string(n) +
                       " samples");
    }
    if (n % 2 == 0) return RealSignal(bins, n);
    ComplexBuffer full(static_cast<std::uint32_t>(n));
    for (std::size_t k = 0; k < n; ++k) {
        const std::complex<double> v = k < bins.size() ? bins[k] : std::conj(bins[n - k]);
        full.data[2 * k] = v.real();
        full.data[2 * k + 1] = k == 0 ? 0.0 : v.imag();
    }
    ComplexInverse(full);
    std::vector<double> signal(n);
    for (std::size_t j = 0; j < n; ++j) signal[j] = full.data[2 * j];
    return signal;
}
