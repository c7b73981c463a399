#pragma once
// A measured transfer function on a uniform frequency grid: magnitude and unwrapped phase
// interpolated linearly between the points; below the first point the magnitude is held and the
// phase runs linearly to 0 at DC; above the last point it is 0.
#include <complex>
#include <vector>

namespace amisim {

// Values at k * df for k = 0 .. count-1; `freqs` ascending (Hz), the same length as `h`.
std::vector<std::complex<double>> resampleTransferFunction(
    const std::vector<double>& freqs, const std::vector<std::complex<double>>& h, double df,
    std::size_t count);

}  // namespace amisim
