#pragma once
// Point-by-point product of a one-based interleaved complex array with a stage spectrum.
#include <complex>
#include <vector>

namespace v10kx_ami_rx {

inline void MultiplySpectrum(std::vector<double>& work,
                             const std::vector<std::complex<double>>& spectrum) {
    double* w = work.data() + 1;
    for (const std::complex<double>& s : spectrum) {
        const double re = w[0];
        const double im = w[1];
        w[0] = re * s.real() - im * s.imag();
        w[1] = re * s.imag() + im * s.real();
        w += 2;
    }
}

}  // namespace v10kx_ami_rx
