#include "amisim/channel/channel_checks.hpp"

#include <gsl/gsl_eigen.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <sstream>

#include "amisim/channel/spectrum_resampling.hpp"
#include "engine/fft/real_fft_plan.hpp"

namespace amisim {

namespace {

constexpr double kPi = std::numbers::pi;
// Measured files show small excursions above 1 from calibration noise.
constexpr double kPassivityTolerance = 1.01;
constexpr double kMaxNonCausalEnergy = 0.01;
constexpr double kLowFrequencyStartHz = 100e6;
constexpr double kMaxLowFrequencyLossDb = 6.0;
constexpr std::size_t kMaxTransform = std::size_t{1} << 21;

std::string fmt(double v, int precision = 3) {
    std::ostringstream os;
    os.precision(precision);
    os << v;
    return os.str();
}

std::size_t nextPow2(std::size_t n) {
    std::size_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

}  // namespace

double largestSingularValue(const std::array<std::complex<double>, 16>& s) {
    // eigenvalues of the Hermitian S^H S are the squared singular values
    gsl_matrix_complex* a = gsl_matrix_complex_alloc(4, 4);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            std::complex<double> acc = 0;
            for (int k = 0; k < 4; ++k)
                acc += std::conj(s[static_cast<std::size_t>(k * 4 + i)]) *
                       s[static_cast<std::size_t>(k * 4 + j)];
            gsl_matrix_complex_set(a, static_cast<std::size_t>(i), static_cast<std::size_t>(j),
                                   gsl_complex{{acc.real(), acc.imag()}});
        }
    gsl_vector* ev = gsl_vector_alloc(4);
    gsl_eigen_herm_workspace* w = gsl_eigen_herm_alloc(4);
    gsl_eigen_herm(a, ev, w);
    double top = 0;
    for (std::size_t i = 0; i < 4; ++i) top = std::max(top, gsl_vector_get(ev, i));
    gsl_eigen_herm_free(w);
    gsl_vector_free(ev);
    gsl_matrix_complex_free(a);
    return std::sqrt(std::max(0.0, top));
}

double nonCausalEnergy(const std::vector<double>& freqs,
                       const std::vector<std::complex<double>>& h) {
    if (freqs.size() < 2 || freqs.size() != h.size()) return 0.0;
    const double fmax = freqs.back();
    double step = fmax;
    for (std::size_t i = 1; i < freqs.size(); ++i) step = std::min(step, freqs[i] - freqs[i - 1]);
    if (!(step > 0) || !(fmax > 0)) return 0.0;
    // bins 0 .. M-1 up to fmax on a uniform grid, the transform twice that and padded
    const std::size_t bins =
        static_cast<std::size_t>(std::min<double>(fmax / step, kMaxTransform / 4)) + 1;
    const std::size_t n = nextPow2(4 * bins);
    const double df = fmax / static_cast<double>(bins - 1);

    const std::vector<std::complex<double>> grid = resampleTransferFunction(freqs, h, df, bins);
    std::vector<std::complex<double>> spectrum(n / 2 + 1);
    for (std::size_t k = 0; k < bins; ++k) {
        const double f = static_cast<double>(k) * df;
        // half a Blackman window: low side lobes keep the band limit's ringing near t = 0
        const double x = f / fmax;
        const double w = 0.42 + 0.5 * std::cos(kPi * x) + 0.08 * std::cos(2 * kPi * x);
        spectrum[k] = grid[k] * w;
    }
    spectrum[0] = spectrum[0].real();
    const std::vector<double> response = RealSignal(spectrum, n);
    // time step 1/(n df); the last quarter of the record is negative time
    const double dt = 1.0 / (static_cast<double>(n) * df);
    const std::size_t guard = static_cast<std::size_t>(std::ceil(4.0 / fmax / dt));
    double total = 0, before = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double e = response[i] * response[i];
        total += e;
        if (i >= n - n / 4 && i + guard < n) before += e;
    }
    return total > 0 ? before / total : 0.0;
}

ChannelCheck checkMeasuredChannel(const FourPortData& data,
                                  const std::vector<std::complex<double>>& sdd21, double bitRate) {
    ChannelCheck c;
    if (data.frequencies.empty() || sdd21.size() != data.frequencies.size()) return c;
    c.firstHz = data.frequencies.front();
    c.lastHz = data.frequencies.back();
    const double nyquist = bitRate / 2;
    if (c.lastHz < nyquist) {
        c.warnings.push_back("the channel data stop at " + fmt(c.lastHz / 1e9) +
                             " GHz, below the Nyquist frequency (" + fmt(nyquist / 1e9) +
                             " GHz): the channel above it is unknown and taken as zero, so the "
                             "loss at Nyquist and the eye are not trustworthy");
    } else if (c.lastHz < bitRate) {
        c.warnings.push_back("the channel data stop at " + fmt(c.lastHz / 1e9) +
                             " GHz, below the bit rate (" + fmt(bitRate / 1e9) +
                             " GHz, twice Nyquist) that a bit's edges need: the response is "
                             "tapered off from " +
                             fmt(0.75 * c.lastHz / 1e9) + " GHz");
    }
    if (c.firstHz > kLowFrequencyStartHz)
        c.warnings.push_back("the channel data start at " + fmt(c.firstHz / 1e6) +
                             " MHz: the response down to DC is extrapolated");
    for (std::size_t k = 0; k < data.s.size(); ++k) {
        const double g = largestSingularValue(data.s[k]);
        if (g > c.maxGain) {
            c.maxGain = g;
            c.maxGainAtHz = data.frequencies[k];
        }
    }
    if (c.maxGain > kPassivityTolerance)
        c.warnings.push_back("the channel is not passive: its S-matrix amplifies by up to " +
                             fmt(c.maxGain) + " (" + fmt(20 * std::log10(c.maxGain), 3) +
                             " dB) at " + fmt(c.maxGainAtHz / 1e9) +
                             " GHz, where a passive channel stays at or below 1; the file may be "
                             "scaled wrongly or badly calibrated");
    c.lowFrequencyLossDb = -20 * std::log10(std::max(1e-300, std::abs(sdd21.front())));
    if (c.lowFrequencyLossDb > kMaxLowFrequencyLossDb)
        c.warnings.push_back("the channel already loses " + fmt(c.lowFrequencyLossDb) + " dB at " +
                             fmt(c.firstHz / 1e6) +
                             " MHz, far more than a line does at low frequency: check the port "
                             "numbering (--ports)");
    c.nonCausalEnergy = nonCausalEnergy(data.frequencies, sdd21);
    if (c.nonCausalEnergy > kMaxNonCausalEnergy)
        c.warnings.push_back(fmt(100 * c.nonCausalEnergy) +
                             " % of the channel's impulse energy arrives before time zero: the "
                             "data are not causal enough to trust (a sign error in the phase, a "
                             "de-embedding artefact, or a frequency step too coarse for the "
                             "channel's delay)");
    return c;
}

}  // namespace amisim
