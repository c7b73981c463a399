#include "engine/channel/channel_response.hpp"

#include <cmath>
#include <numbers>

#include "engine/channel/channel_data_error.hpp"
#include "engine/interpolation/interpolation.hpp"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDegToRad = 0.017453292519943295;
// Written for a spectral point of exactly zero, where the logarithm has no value.
constexpr double kZeroMagnitudeDb = -400.0;

void requireSameLength(std::size_t a, std::size_t b, const char* what) {
    if (a != b) {
        throw ChannelDataError(std::string(what) + ": parallel lists of " + std::to_string(a) +
                               " and " + std::to_string(b) + " values");
    }
}

}  // namespace

void LimitAmplitude(const std::vector<double>& dataFrequencies,
                    const std::vector<double>& gridFrequencies,
                    const std::vector<double>& dataAmplitudes,
                    std::vector<double>& gridAmplitudes) {
    if (dataFrequencies.empty() || dataAmplitudes.empty()) return;
    const double lastFrequency = dataFrequencies.back();
    const double lastAmplitude = dataAmplitudes.back();
    const std::size_t n = std::min(gridFrequencies.size(), gridAmplitudes.size());
    std::size_t first = 0;
    while (first < n && !(gridFrequencies[first] > lastFrequency)) ++first;
    for (std::size_t k = first; k < n; ++k) {
        if (gridAmplitudes[k] > lastAmplitude) gridAmplitudes[k] = lastAmplitude;
    }
}

std::vector<double> UnwrapPhase(const std::vector<double>& phasesRad, double tolerance) {
    std::vector<double> out(phasesRad);
    double correction = 0.0;
    for (std::size_t i = 1; i < phasesRad.size(); ++i) {
        const double d = phasesRad[i] - phasesRad[i - 1];
        double wrapped = ((d + kPi) - 2 * kPi * std::floor((d + kPi) / (2 * kPi))) - kPi;
        if (wrapped == -kPi && d > 0) wrapped = kPi;
        const double c = std::abs(d) < tolerance ? 0.0 : wrapped - d;
        correction += c;
        out[i] = phasesRad[i] + correction;
    }
    return out;
}

std::vector<std::complex<double>> ToComplex(const std::vector<double>& magnitudesDb,
                                            const std::vector<double>& phasesDeg) {
    requireSameLength(magnitudesDb.size(), phasesDeg.size(), "ToComplex");
    std::vector<std::complex<double>> out(magnitudesDb.size());
    for (std::size_t k = 0; k < out.size(); ++k) {
        const double amplitude = std::pow(10.0, magnitudesDb[k] / 20.0);
        const double angle = phasesDeg[k] / 180.0 * kPi;
        out[k] = {amplitude * std::cos(angle), amplitude * std::sin(angle)};
    }
    return out;
}

ResampledResponse ResampleResponse(const std::vector<std::vector<double>>& table,
                                   const std::vector<double>& grid) {
    ResampledResponse out;
    if (table.empty() || grid.empty()) return out;
    if (table.size() < 2) {
        throw ChannelDataError(
            "ResampleResponse: a response needs at least two frequency "
            "points, the table holds one");
    }
    std::vector<double> f, magnitude, phase;
    f.reserve(table.size());
    magnitude.reserve(table.size());
    phase.reserve(table.size());
    for (std::size_t r = 0; r < table.size(); ++r) {
        const std::vector<double>& row = table[r];
        if (row.size() < 3) {
            throw ChannelDataError("ResampleResponse: row " + std::to_string(r) + " holds " +
                                   std::to_string(row.size()) +
                                   " values instead of frequency, magnitude and phase");
        }
        if (!std::isfinite(row[0]) || !std::isfinite(row[1]) || !std::isfinite(row[2])) {
            throw ChannelDataError("ResampleResponse: row " + std::to_string(r) +
                                   " holds a value that is not a finite number");
        }
        if (r > 0 && !(row[0] > f.back())) {
            throw ChannelDataError("ResampleResponse: the frequencies must rise strictly; row " +
                                   std::to_string(r) + " does not");
        }
        f.push_back(row[0]);
        magnitude.push_back(row[1]);
        phase.push_back(row[2] * kDegToRad);
    }
    phase = UnwrapPhase(phase, kPi);
    Interpolate(kInterpNr3Linear, f, magnitude, grid, out.magnitudesDb);
    Interpolate(kInterpNr3Linear, f, phase, grid, out.phasesRad);
    LimitAmplitude(f, grid, magnitude, out.magnitudesDb);
    return out;
}

TabulatedResponse ImpulseResponseTable(const std::vector<double>& impulse, double sampleInterval,
                                       double maxFrequency) {
    TabulatedResponse out;
    if (impulse.empty()) return out;
    if (!(sampleInterval > 0) || !std::isfinite(sampleInterval)) {
        throw ChannelDataError(
            "ImpulseResponseTable: the sample interval must be a positive "
            "time");
    }
    ComplexBuffer spectrum;
    RealForward(spectrum, impulse);
    const std::size_t n = impulse.size();
    const double binSpacing = 1.0 / (static_cast<double>(n) * sampleInterval);
    for (std::size_t k = 0; k <= n / 2; ++k) {
        const double f = static_cast<double>(k) * binSpacing;
        if (f > maxFrequency) break;
        const std::complex<double> h(spectrum.data[2 * k] * sampleInterval,
                                     spectrum.data[2 * k + 1] * sampleInterval);
        const double magnitude = std::abs(h);
        out.frequencies.push_back(f);
        out.magnitudesDb.push_back(magnitude > 0 ? 20.0 * std::log10(magnitude) : kZeroMagnitudeDb);
        out.phasesDeg.push_back(std::arg(h) / kDegToRad);
    }
    return out;
}

std::vector<double> ChannelToImpulse(const ComplexBuffer& input, double sampleInterval,
                                     const std::string& channelKind, const SParameterTable& table) {
    const std::size_t n = input.count;
    if (n == 0) return {};
    if (input.data.size() != 2 * n) {
        throw ChannelDataError("ChannelToImpulse: the input spectrum of " + std::to_string(n) +
                               " points holds " + std::to_string(input.data.size()) + " values");
    }
    ComplexBuffer product = input;
    if (channelKind == kChannelSdd21) {
        if (!(sampleInterval > 0) || !std::isfinite(sampleInterval)) {
            throw ChannelDataError(
                "ChannelToImpulse: the sample interval must be a positive "
                "time");
        }
        const int s21 = SParameterMagnitudeColumn(2, 1);
        const std::vector<std::vector<double>> columns = TakeColumns(table, {0, s21, s21 + 1}, 1.0);
        if (columns.size() < 2) {
            throw ChannelDataError("ChannelToImpulse: table '" + table.name + "' holds " +
                                   std::to_string(columns.size()) +
                                   " frequency points; at least two are needed");
        }
        const std::size_t half = n / 2;
        const double binSpacing = 1.0 / (static_cast<double>(n) * sampleInterval);
        std::vector<double> grid(half + 1);
        for (std::size_t k = 0; k <= half; ++k) grid[k] = static_cast<double>(k) * binSpacing;
        const ResampledResponse resampled = ResampleResponse(columns, grid);
        std::vector<double> degrees(resampled.phasesRad.size());
        for (std::size_t k = 0; k < degrees.size(); ++k) {
            degrees[k] = resampled.phasesRad[k] / kDegToRad;
        }
        const std::vector<std::complex<double>> h = ToComplex(resampled.magnitudesDb, degrees);
        // Conjugate symmetry, so that the channel maps real signals onto real signals.
        auto response = [&](std::size_t k) -> std::complex<double> {
            if (k == 0 || (n % 2 == 0 && k == half)) return {h[k].real(), 0.0};
            if (k <= half) return h[k];
            return std::conj(h[n - k]);
        };
        for (std::size_t k = 0; k < n; ++k) {
            const std::complex<double> x(product.data[2 * k], product.data[2 * k + 1]);
            const std::complex<double> y = x * response(k);
            product.data[2 * k] = y.real();
            product.data[2 * k + 1] = y.imag();
        }
    } else if (channelKind != kChannelIdeal) {
        throw ChannelDataError("ChannelToImpulse: unknown channel kind '" + channelKind +
                               "' (expected \"Sdd21\" or \"Ideal\")");
    }
    ComplexInverse(product);
    std::vector<double> out(n);
    for (std::size_t k = 0; k < n; ++k) out[k] = product.data[2 * k];
    return out;
}
