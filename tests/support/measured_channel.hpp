#pragma once
// A four-port Touchstone file as a measured backplane gives one: 10 MHz steps up to 40 GHz, a
// lossy differential thru with its flight time, and the noise floor of the instrument on every
// parameter. Written for the channel tests and the link benchmark.
#include <cmath>
#include <complex>
#include <filesystem>
#include <fstream>
#include <random>

namespace testsupport {

struct MeasuredChannelShape {
    double lossDbAtNyquist = 20.0;  // at 5.15625 GHz, 35 % skin effect
    double flightTime = 2e-9;
    double noiseFloor = 3e-5;  // rms of each real and imaginary part (about -90 dB)
};

// Loss of the thru (dB) at f, growing as sqrt(f) (skin) and f (dielectric).
inline double MeasuredThruLossDb(const MeasuredChannelShape& shape, double f) {
    const double nyquist = 5.15625e9;
    return shape.lossDbAtNyquist * (0.35 * std::sqrt(f / nyquist) + 0.65 * f / nyquist);
}

// Ports 1 -> 3 and 2 -> 4 are the two legs (port order 1-2/3-4); the differential insertion loss
// is the thru itself.
inline void WriteMeasuredChannel(const std::filesystem::path& file,
                                 const MeasuredChannelShape& shape = {}) {
    std::mt19937 rng(11);
    std::normal_distribution<double> noise(0.0, shape.noiseFloor);
    std::ofstream out(file);
    out << "! synthetic measurement of a lossy backplane\n# Hz S RI R 50\n";
    const double pi = std::acos(-1.0);
    for (int k = 1; k <= 4000; ++k) {
        const double f = k * 10e6;
        const std::complex<double> thru = std::polar(
            std::pow(10.0, -MeasuredThruLossDb(shape, f) / 20), -2 * pi * f * shape.flightTime);
        out << f;
        for (int p = 0; p < 16; ++p) {
            std::complex<double> s(noise(rng), noise(rng));
            if (p == 8 || p == 13) s += thru;  // S31, S42
            out << ' ' << s.real() << ' ' << s.imag();
        }
        out << '\n';
    }
}

}  // namespace testsupport
