#include <cmath>
#include <cstddef>
#include <string>
#include <utility>

#include "engine/fft/fft_service.hpp"

void Radix2Transform(double* data, std::uint32_t nn, int sign) {
    if (nn == 0) return;
    // The bit-reversal below walks outside the array for any other length.
    if ((nn & (nn - 1)) != 0) {
        throw FftError("Radix2Transform: length " + std::to_string(nn) + " is not a power of two");
    }
    if (sign != 1 && sign != -1) {
        throw FftError("Radix2Transform: sign must be +1 or -1, got " + std::to_string(sign));
    }
    const std::size_t n = static_cast<std::size_t>(nn) << 1;

    std::size_t j = 1;
    for (std::size_t i = 1; i < n; i += 2) {
        if (j > i) {
            std::swap(data[j], data[i]);
            std::swap(data[j + 1], data[i + 1]);
        }
        std::size_t m = nn;
        while (m >= 2 && j > m) {
            j -= m;
            m >>= 1;
        }
        j += m;
    }

    constexpr double kTwoPi = 6.283185307179586;
    std::size_t mmax = 2;
    while (n > mmax) {
        const std::size_t istep = mmax << 1;
        const double theta = kTwoPi / (sign * static_cast<double>(mmax));
        const double half = std::sin(0.5 * theta);
        // Rotation by theta as w <- w + w*(alpha + i beta): keeps sin/cos out of the loops and
        // loses less precision than multiplying by cos(theta) + i sin(theta) directly.
        const double alpha = -2.0 * half * half;
        const double beta = std::sin(theta);
        double wr = 1.0;
        double wi = 0.0;
        for (std::size_t m = 1; m < mmax; m += 2) {
            for (std::size_t i = m; i <= n; i += istep) {
                const std::size_t k = i + mmax;
                const double tr = wr * data[k] - wi * data[k + 1];
                const double ti = wr * data[k + 1] + wi * data[k];
                data[k] = data[i] - tr;
                data[k + 1] = data[i + 1] - ti;
                data[i] += tr;
                data[i + 1] += ti;
            }
            const double wrOld = wr;
            wr = wr + wr * alpha - wi * beta;
            wi = wi + wi * alpha + wrOld * beta;
        }
        mmax = istep;
    }
}
