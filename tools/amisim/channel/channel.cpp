#include "amisim/channel/channel.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <sstream>
#include <stdexcept>

#include "amisim/channel/spectrum_resampling.hpp"
#include "engine/fft/real_fft_plan.hpp"

namespace amisim {

namespace {

constexpr double kPi = std::numbers::pi;

// Cuts the discrete impulse where it has decayed below `floor` of its peak, tapers the last
// tenth with a half cosine so that the cut adds no step, and pads to whole bits.
std::vector<double> trimImpulse(const std::vector<double>& h, std::size_t begin, std::size_t limit,
                                int samplesPerBit, double floor) {
    double peak = 0;
    for (std::size_t i = begin; i < limit; ++i) peak = std::max(peak, std::abs(h[i]));
    std::size_t last = begin;
    for (std::size_t i = begin; i < limit; ++i)
        if (std::abs(h[i]) > floor * peak) last = i;
    std::size_t len = last - begin + 1 + static_cast<std::size_t>(samplesPerBit);
    len = std::min(len, limit - begin);
    std::vector<double> out(h.begin() + static_cast<long>(begin),
                            h.begin() + static_cast<long>(begin + len));
    const std::size_t taper = std::max<std::size_t>(1, len / 10);
    for (std::size_t i = 0; i < taper; ++i) {
        double w =
            0.5 * (1 + std::cos(kPi * static_cast<double>(i + 1) / static_cast<double>(taper)));
        out[len - taper + i] *= w;
    }
    const std::size_t spb = static_cast<std::size_t>(samplesPerBit);
    out.resize((out.size() + spb - 1) / spb * spb, 0.0);
    return out;
}

// Where a measured response has decayed into the noise of the measurement. A frequency step
// df describes at most 1/df of response (`span` samples from `begin`); past it only the echoes
// of the interpolation between the measured points remain. The level of the response is its
// rms over stretches of four bits; the noise floor is the median level over the second half of
// the span, where any channel's response has long died away. The cut follows the last stretch
// above four times the floor (or above 1e-4 of the peak level, for a record without noise),
// with a stretch of margin.
std::size_t decayedEnd(const std::vector<double>& h, std::size_t begin, std::size_t limit,
                       std::size_t span, int samplesPerBit) {
    const std::size_t stretch = 4 * static_cast<std::size_t>(samplesPerBit);
    const std::size_t end = std::min(limit, begin + span);
    const std::size_t count = (end - begin) / stretch;
    if (count < 8) return limit;
    std::vector<double> level(count);
    for (std::size_t w = 0; w < count; ++w) {
        double sum = 0;
        for (std::size_t i = begin + w * stretch; i < begin + (w + 1) * stretch; ++i)
            sum += h[i] * h[i];
        level[w] = std::sqrt(sum / static_cast<double>(stretch));
    }
    const std::size_t peak =
        static_cast<std::size_t>(std::max_element(level.begin(), level.end()) - level.begin());
    std::vector<double> late(level.begin() + static_cast<long>(count / 2), level.end());
    std::nth_element(late.begin(), late.begin() + static_cast<long>(late.size() / 2), late.end());
    const double threshold = std::max(4 * late[late.size() / 2], 1e-4 * level[peak]);
    std::size_t last = peak;
    for (std::size_t w = count; w-- > peak;) {
        if (level[w] > threshold) {
            last = w;
            break;
        }
    }
    return std::min(limit, begin + (last + 2) * stretch);
}

std::size_t nextPowerOfTwo(std::size_t n) {
    std::size_t p = 2;
    while (p < n) p <<= 1;
    return p;
}

void checkTiming(double sampleInterval, int samplesPerBit) {
    if (!(sampleInterval > 0) || samplesPerBit < 1)
        throw std::invalid_argument("the sample interval and samples per bit must be positive");
}

}  // namespace

double lossyLineLossDb(const LossyLineOptions& opt, double f) {
    // Below the skin-effect onset the conductor loss stops following sqrt(f) (the current
    // fills the conductor); sqrt(f + fs) - sqrt(fs) models that and keeps the tail short.
    const double fs = opt.skinOnsetHz;
    const double skin =
        (std::sqrt(f + fs) - std::sqrt(fs)) / (std::sqrt(opt.nyquistHz + fs) - std::sqrt(fs));
    const double x = f / opt.nyquistHz;
    return opt.lossDbAtNyquist * (opt.skinFraction * skin + (1 - opt.skinFraction) * x);
}

ChannelImpulse buildLossyLine(const LossyLineOptions& opt, double sampleInterval,
                              int samplesPerBit) {
    checkTiming(sampleInterval, samplesPerBit);
    if (!(opt.lossDbAtNyquist >= 0) || !(opt.nyquistHz > 0) || opt.skinFraction < 0 ||
        opt.skinFraction > 1)
        throw std::invalid_argument(
            "the line loss must be non-negative, the skin fraction within 0..1");
    // A fine grid keeps cepstral aliasing negligible and leaves room for a long tail.
    const std::size_t n = 1u << 16;
    const double df = 1.0 / (static_cast<double>(n) * sampleInterval);
    std::vector<std::complex<double>> logMag(n / 2 + 1);
    for (std::size_t k = 0; k <= n / 2; ++k) {
        const double db = lossyLineLossDb(opt, static_cast<double>(k) * df);
        logMag[k] = -db / 20.0 * std::log(10.0);
    }
    // Real cepstrum folded onto positive quefrencies gives the minimum-phase spectrum.
    std::vector<double> cep = RealSignal(logMag, n);
    for (std::size_t i = 1; i < n / 2; ++i) cep[i] *= 2.0;
    for (std::size_t i = n / 2 + 1; i < n; ++i) cep[i] = 0.0;
    std::vector<std::complex<double>> logH = RealSpectrum(cep);
    for (auto& v : logH) v = std::exp(v);
    logH[n / 2] = {logH[n / 2].real(), 0.0};
    std::vector<double> h = RealSignal(logH, n);

    ChannelImpulse ch;
    ch.sampleInterval = sampleInterval;
    // dielectric loss leaves a tail falling as 1/t^2; below 1e-5 of the peak it is dropped
    ch.impulse = trimImpulse(h, 0, n / 2, samplesPerBit, 1e-5);
    for (double& v : ch.impulse) v /= sampleInterval;
    std::ostringstream d;
    d << "lossy line, " << opt.lossDbAtNyquist << " dB at " << opt.nyquistHz / 1e9 << " GHz";
    ch.description = d.str();
    return ch;
}

ChannelImpulse buildFromTransferFunction(const std::vector<double>& freqs,
                                         const std::vector<std::complex<double>>& h,
                                         double sampleInterval, int samplesPerBit) {
    checkTiming(sampleInterval, samplesPerBit);
    if (freqs.size() < 2 || freqs.size() != h.size())
        throw std::invalid_argument("a transfer function needs at least two frequency points");
    const double fs = 1.0 / sampleInterval;
    double minStep = freqs.back();
    for (std::size_t i = 1; i < freqs.size(); ++i)
        minStep = std::min(minStep, freqs[i] - freqs[i - 1]);
    // the time span must hold the response the frequency step can describe
    std::size_t n = nextPowerOfTwo(std::max<std::size_t>(
        1u << 15, static_cast<std::size_t>(std::min(2.0 * fs / minStep, 4194304.0))));
    const double df = fs / static_cast<double>(n);
    const double fmax = freqs.back();
    const double taperStart = 0.75 * fmax;
    std::vector<std::complex<double>> grid = resampleTransferFunction(freqs, h, df, n / 2 + 1);
    // a raised-cosine taper over the last quarter of the data keeps the end of the band from
    // ringing through the whole response
    for (std::size_t k = 0; k <= n / 2; ++k) {
        const double f = static_cast<double>(k) * df;
        if (f > fmax) break;
        if (f > taperStart)
            grid[k] *= 0.5 * (1 + std::cos(kPi * (f - taperStart) / (fmax - taperStart)));
    }
    grid[0] = {grid[0].real() >= 0 ? std::abs(grid[0]) : -std::abs(grid[0]), 0.0};
    grid[n / 2] = {grid[n / 2].real(), 0.0};
    std::vector<double> t = RealSignal(grid, n);

    // Measured data need not be causal once band-limited: the response may ring before its
    // peak, and that part wraps to the end of the record. Start a couple of bits before the
    // earliest significant sample ahead of the peak, reading the record circularly.
    std::size_t peakAt = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (std::abs(t[i]) > std::abs(t[peakAt])) peakAt = i;
    const double peak = std::abs(t[peakAt]);
    const std::size_t spb = static_cast<std::size_t>(samplesPerBit);
    const std::size_t lookBack = std::min(n / 4, 64 * spb);
    std::size_t ahead = 0;
    for (std::size_t j = 1; j <= lookBack; ++j)
        if (std::abs(t[(peakAt + n - j) % n]) > 1e-3 * peak) ahead = j;
    const std::size_t start = (peakAt + 2 * n - ahead - 2 * spb) % n;
    std::vector<double> rotated(n);
    for (std::size_t i = 0; i < n; ++i) rotated[i] = t[(start + i) % n];
    t.swap(rotated);
    const std::size_t begin = 0;
    ChannelImpulse ch;
    ch.sampleInterval = sampleInterval;
    ch.impulse = trimImpulse(
        t, begin,
        decayedEnd(t, begin, n * 7 / 8, static_cast<std::size_t>(fs / minStep), samplesPerBit),
        samplesPerBit, 1e-5);
    for (double& v : ch.impulse) v /= sampleInterval;
    return ch;
}

ChannelImpulse buildFromS4p(const std::string& path, PortOrder order, double sampleInterval,
                            int samplesPerBit) {
    FourPortData d = readS4p(path);
    if (d.frequencies.size() < 2)
        throw TouchstoneError(path + ": at least two frequency points are needed");
    ChannelImpulse ch = buildFromTransferFunction(
        d.frequencies, differentialInsertionLoss(d, order), sampleInterval, samplesPerBit);
    ch.description = "Touchstone file " + path + " (ports " +
                     (order == PortOrder::Pairs12_34 ? "1-2/3-4" : "1-3/2-4") + ")";
    return ch;
}

std::complex<double> frequencyResponse(const ChannelImpulse& ch, double f) {
    std::complex<double> sum = 0;
    const double w = -2 * kPi * f * ch.sampleInterval;
    for (std::size_t i = 0; i < ch.impulse.size(); ++i)
        sum += ch.impulse[i] * std::polar(1.0, w * static_cast<double>(i));
    return sum * ch.sampleInterval;
}

}  // namespace amisim
