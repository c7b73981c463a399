// Pole-zero stage responses and tanh amplitude curves.
#include "mkdb/rx_stage_model.hpp"

#include <cmath>
#include <complex>
#include <numbers>

namespace mkdb {

std::vector<double> frequencyGrid(double startHz, double stopHz, int pointsPerDecade) {
    std::vector<double> f{0.0};
    const double decades = std::log10(stopHz / startHz);
    const int steps = static_cast<int>(std::ceil(decades * pointsPerDecade - 1e-9));
    for (int i = 0; i <= steps; ++i) {
        f.push_back(
            std::min(stopHz, startHz * std::pow(10.0, static_cast<double>(i) / pointsPerDecade)));
    }
    return f;
}

void sampleStage(const StageShape& shape, const std::vector<double>& frequencies,
                 std::vector<double>& magnitudeDb, std::vector<double>& phaseDeg) {
    using std::numbers::pi;
    const double k = std::pow(10.0, shape.dcGainDb / 20.0);
    const double wp1 = 2 * pi * shape.poleHz;
    const double wz = wp1 / std::pow(10.0, shape.peakingDb / 20.0);
    const double wp2 = shape.secondPoleRatio * wp1;
    magnitudeDb.resize(frequencies.size());
    std::vector<double> wrapped(frequencies.size());
    for (std::size_t i = 0; i < frequencies.size(); ++i) {
        const std::complex<double> s(0.0, 2 * pi * frequencies[i]);
        const std::complex<double> h = k * (1.0 + s / wz) / ((1.0 + s / wp1) * (1.0 + s / wp2)) *
                                       std::exp(-s * shape.delaySeconds);
        magnitudeDb[i] = 20.0 * std::log10(std::abs(h));
        wrapped[i] = std::arg(h) * 180.0 / pi;
    }
    phaseDeg = unwrapDegrees(wrapped);
}

std::vector<double> unwrapDegrees(const std::vector<double>& phaseDeg) {
    std::vector<double> out(phaseDeg);
    double offset = 0.0;
    for (std::size_t i = 1; i < out.size(); ++i) {
        const double step = phaseDeg[i] - phaseDeg[i - 1];
        offset -= 360.0 * std::round(step / 360.0);
        out[i] = phaseDeg[i] + offset;
    }
    return out;
}

ResponseRecord saturationCurve(int points, double inputMax, double saturation,
                               double secondSaturation) {
    ResponseRecord r;
    const int pairs = secondSaturation > 0 ? 2 : 1;
    r.rows = static_cast<std::uint32_t>(2 * pairs);
    r.columns = static_cast<std::uint32_t>(points);
    r.data.assign(r.rows, std::vector<double>(points));
    for (int i = 0; i < points; ++i) {
        const double x = -inputMax + 2.0 * inputMax * i / (points - 1);
        r.data[0][i] = x;
        r.data[1][i] = saturation * std::tanh(x / saturation);
        if (pairs == 2) {
            r.data[2][i] = x;
            r.data[3][i] = secondSaturation * std::tanh(x / secondSaturation);
        }
    }
    return r;
}

}  // namespace mkdb
