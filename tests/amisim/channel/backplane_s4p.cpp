#include "channel/backplane_s4p.hpp"

#include <gsl/gsl_fft_complex.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "amisim/channel/channel.hpp"

namespace amisim_test {

namespace {
constexpr double kTwoPi = 2 * std::numbers::pi;
constexpr double kViaDelay = 20e-12;
}  // namespace

std::vector<std::complex<double>> backplaneThru(const BackplaneOptions& o,
                                                const std::vector<double>& hz) {
    amisim::LossyLineOptions line;
    line.lossDbAtNyquist = o.lossDbAtNyquist;
    line.nyquistHz = o.nyquistHz;
    // minimum phase from the log magnitude by the folded real cepstrum, on a grid of stepHz
    const std::size_t n = 1u << 15;
    std::vector<double> data(2 * n, 0.0);
    for (std::size_t k = 0; k <= n / 2; ++k) {
        const double logMag =
            -amisim::lossyLineLossDb(line, static_cast<double>(k) * o.stepHz) / 20 * std::log(10.0);
        data[2 * k] = logMag;
        if (k > 0 && k < n / 2) data[2 * (n - k)] = logMag;
    }
    gsl_fft_complex_radix2_inverse(data.data(), 1, n);
    for (std::size_t i = 0; i < n; ++i) {
        const double fold = i == 0 || i == n / 2 ? 1.0 : i < n / 2 ? 2.0 : 0.0;
        data[2 * i] *= fold;
        data[2 * i + 1] = 0.0;
    }
    gsl_fft_complex_radix2_forward(data.data(), 1, n);
    std::vector<std::complex<double>> out;
    for (double f : hz) {
        const std::size_t k =
            std::min<std::size_t>(n / 2, static_cast<std::size_t>(std::lround(f / o.stepHz)));
        const std::complex<double> logH(data[2 * k], data[2 * k + 1]);
        out.push_back(std::exp(logH) * std::polar(1.0, -kTwoPi * f * o.delay));
    }
    return out;
}

std::complex<double> backplaneFext(const BackplaneOptions& o, double f, std::complex<double> thru) {
    return o.fext * (f / o.nyquistHz) * thru;
}

std::string backplaneS4p(const BackplaneOptions& o) {
    std::string text = "! made-up backplane for the amisim tests\n# GHz S RI R 50\n";
    const long points = static_cast<long>(std::floor(o.stopHz / o.stepHz + 1e-9));
    std::vector<double> hz;
    for (long k = 1; k <= points; ++k) hz.push_back(static_cast<double>(k) * o.stepHz);
    const std::vector<std::complex<double>> thru = backplaneThru(o, hz);
    for (long k = 1; k <= points; ++k) {
        const double f = hz[static_cast<std::size_t>(k - 1)];
        const std::complex<double> t = thru[static_cast<std::size_t>(k - 1)];
        const std::complex<double> fx = backplaneFext(o, f, t);
        const std::complex<double> r =
            o.reflection * (1.0 - std::polar(1.0, -2 * kTwoPi * f * kViaDelay));
        const std::complex<double> nx = o.next * (1.0 - std::polar(1.0, -kTwoPi * f * o.delay));
        // ports in the 1-2/3-4 numbering: 1 P in, 2 N in, 3 P out, 4 N out
        std::array<std::array<std::complex<double>, 4>, 4> s{
            {{r, nx, t, fx}, {nx, r, fx, t}, {t, fx, r, nx}, {fx, t, nx, r}}};
        // the 1-3/2-4 numbering swaps ports 2 and 3: 1 P in, 2 P out, 3 N in, 4 N out
        std::array<int, 4> map{0, 1, 2, 3};
        if (o.order == amisim::PortOrder::Pairs13_24) map = {0, 2, 1, 3};
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.6f", f / 1e9);
        text += buf;
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) {
                std::complex<double> v =
                    s[static_cast<std::size_t>(map[static_cast<std::size_t>(i)])]
                     [static_cast<std::size_t>(map[static_cast<std::size_t>(j)])] *
                    o.scale;
                if (o.conjugate) v = std::conj(v);
                std::snprintf(buf, sizeof buf, " %.9e %.9e", v.real(), v.imag());
                text += buf;
            }
            text += "\n";
        }
    }
    return text;
}

}  // namespace amisim_test
