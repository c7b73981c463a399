#include "amisim/channel/frequency_response.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "engine/fft/real_fft_plan.hpp"

namespace amisim {

namespace {
// Below this |H| a ratio of spectra is mostly rounding noise.
constexpr double kMinDivisor = 1e-6;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double toDb(std::complex<double> h) {
    const double m = std::abs(h);
    return m > 0 ? 20 * std::log10(m) : kNaN;
}

// H(k df) = sum h[n] dt e^{-j 2 pi k n / size} for k = 0 .. size/2, with df = 1 / (size dt).
std::vector<std::complex<double>> impulseSpectrum(const std::vector<double>& impulse, double dt,
                                                  std::size_t size) {
    std::vector<double> data(size, 0.0);
    std::copy_n(impulse.begin(), std::min(size, impulse.size()), data.begin());
    std::vector<std::complex<double>> out = RealSpectrum(data);
    for (auto& v : out) v *= dt;
    return out;
}

}  // namespace

LinkFrequencyResponse linkFrequencyResponse(const std::vector<double>& channel,
                                            const std::vector<double>& txOut,
                                            const std::vector<double>& linkOut, double dt,
                                            double fMax, int points, bool txKnown, bool rxKnown) {
    LinkFrequencyResponse r;
    std::size_t size = 2;
    while (size < std::max({channel.size(), txOut.size(), linkOut.size(), std::size_t{2}}))
        size *= 2;
    const double df = 1.0 / (static_cast<double>(size) * dt);
    const std::size_t last = std::min(size / 2, static_cast<std::size_t>(fMax / df));
    const std::size_t stride =
        std::max<std::size_t>(1, last / static_cast<std::size_t>(std::max(1, points)));
    const auto fc = impulseSpectrum(channel, dt, size);
    const auto ft = impulseSpectrum(txOut, dt, size);
    const auto fl = impulseSpectrum(linkOut, dt, size);
    std::vector<std::complex<double>> hc, ht, hl;
    for (std::size_t k = stride; k <= last; k += stride) {
        r.hz.push_back(static_cast<double>(k) * df);
        hc.push_back(fc[k]);
        ht.push_back(ft[k]);
        hl.push_back(fl[k]);
    }
    auto ratioDb = [](std::complex<double> num, std::complex<double> den) {
        return std::abs(den) > kMinDivisor ? toDb(num / den) : kNaN;
    };
    for (std::size_t i = 0; i < r.hz.size(); ++i) {
        r.channelDb.push_back(toDb(hc[i]));
        r.txDb.push_back(txKnown ? ratioDb(ht[i], hc[i]) : kNaN);
        r.rxDb.push_back(rxKnown ? ratioDb(hl[i], ht[i]) : kNaN);
        r.linkDb.push_back(toDb(hl[i]));
    }
    return r;
}

}  // namespace amisim
