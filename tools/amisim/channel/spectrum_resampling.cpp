#include "amisim/channel/spectrum_resampling.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "engine/channel/channel_response.hpp"

namespace amisim {

std::vector<std::complex<double>> resampleTransferFunction(
    const std::vector<double>& freqs, const std::vector<std::complex<double>>& h, double df,
    std::size_t count) {
    constexpr double kPi = std::numbers::pi;
    std::vector<std::complex<double>> out(count);
    if (freqs.size() < 2 || freqs.size() != h.size()) return out;
    std::vector<double> mag(h.size()), phase(h.size());
    for (std::size_t i = 0; i < h.size(); ++i) {
        mag[i] = std::abs(h[i]);
        phase[i] = std::arg(h[i]);
    }
    // The channel utilities' unwrapping: every step between neighbours brought within pi.
    phase = UnwrapPhase(phase, kPi);
    std::size_t j = 1;
    for (std::size_t k = 0; k < count; ++k) {
        const double f = static_cast<double>(k) * df;
        if (f > freqs.back()) break;
        double m, p;
        if (f <= freqs.front()) {
            m = mag.front();
            p = freqs.front() > 0 ? phase.front() * f / freqs.front() : phase.front();
        } else {
            while (j < freqs.size() - 1 && freqs[j] < f) ++j;
            const double t = std::clamp((f - freqs[j - 1]) / (freqs[j] - freqs[j - 1]), 0.0, 1.0);
            m = mag[j - 1] + t * (mag[j] - mag[j - 1]);
            p = phase[j - 1] + t * (phase[j] - phase[j - 1]);
        }
        out[k] = std::polar(m, p);
    }
    return out;
}

}  // namespace amisim
