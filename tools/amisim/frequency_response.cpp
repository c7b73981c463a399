#include "amisim/frequency_response.hpp"

#include <cmath>
#include <limits>
#include <numbers>

namespace amisim {

namespace {
// Below this |H| a ratio of spectra is mostly rounding noise.
constexpr double kMinDivisor = 1e-6;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double toDb(std::complex<double> h) {
    const double m = std::abs(h);
    return m > 0 ? 20 * std::log10(m) : kNaN;
}
}  // namespace

std::vector<std::complex<double>> impulseSpectrum(const std::vector<double>& impulse, double dt,
                                                  const std::vector<double>& hz) {
    std::vector<std::complex<double>> out;
    out.reserve(hz.size());
    for (double f : hz) {
        // the phase step is applied by multiplication; re-anchored every 1024 samples so that
        // rounding does not build up
        const double w = -2 * std::numbers::pi * f * dt;
        const std::complex<double> step = std::polar(1.0, w);
        std::complex<double> rot = 1.0, sum = 0.0;
        for (std::size_t n = 0; n < impulse.size(); ++n) {
            if (n % 1024 == 0) rot = std::polar(1.0, w * static_cast<double>(n));
            sum += impulse[n] * rot;
            rot *= step;
        }
        out.push_back(sum * dt);
    }
    return out;
}

LinkFrequencyResponse linkFrequencyResponse(const std::vector<double>& channel,
                                            const std::vector<double>& txOut,
                                            const std::vector<double>& linkOut, double dt,
                                            double fMax, int points, bool txKnown, bool rxKnown) {
    LinkFrequencyResponse r;
    for (int i = 1; i <= points; ++i) r.hz.push_back(fMax * i / points);
    const auto hc = impulseSpectrum(channel, dt, r.hz);
    const auto ht = impulseSpectrum(txOut, dt, r.hz);
    const auto hl = impulseSpectrum(linkOut, dt, r.hz);
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
