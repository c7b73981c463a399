#include "tx/tap_weights.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "framework/format.hpp"

namespace v10kx_ami_tx {

namespace {

constexpr double kKeyTolerance = 2.220446049250313e-16;

FiveTaps MainOnly(double amplitude) { return {0.0, 0.0, amplitude, 0.0, 0.0}; }

}  // namespace

FiveTaps ComputeTapWeights(double amplitude, const std::optional<FirMap>& map,
                           const SignedTapSettings& settings, std::string& problem) {
    if (!map) {
        problem = "no usable FIR map";
        return MainOnly(amplitude);
    }
    const FirMapRecord* record = nullptr;
    for (std::size_t r = 0; r < map->records.size(); ++r) {
        if (std::fabs(amplitude - map->keys[r]) < kKeyTolerance) {
            record = &map->records[r];
            break;
        }
    }
    if (!record) {
        problem = ami::Format("no FIR map record belongs to the output amplitude %f", amplitude);
        return MainOnly(amplitude);
    }

    const double h[kTapPositions] = {
        static_cast<double>(settings[0]), static_cast<double>(settings[1]), 0.0,
        static_cast<double>(settings[2]), static_cast<double>(settings[3])};
    double sum[kTapPositions] = {};
    for (std::uint32_t j = 0; j < kTapPositions; ++j) {
        if (j == record->numPre) continue;
        const double s = h[j];
        const double sigma = s > 0 ? 1.0 : (s < 0 ? -1.0 : 0.0);
        const auto k = static_cast<std::uint32_t>(std::fabs(s));
        if (k >= record->coefA.cols || k >= record->coefB.cols) {
            problem = ami::Format(
                "tap setting %u at position %u lies beyond the %u coefficient columns of the FIR "
                "map",
                k, j, std::min(record->coefA.cols, record->coefB.cols));
            return MainOnly(amplitude);
        }
        const double a = sigma * record->coefA.at(j, k);
        const double b = -sigma * record->coefB.at(j, k);
        sum[j] = b + a;
    }

    FiveTaps weights{};
    double main = 1.0;
    for (std::uint32_t j = 0; j < kTapPositions; ++j) {
        if (j == record->numPre) continue;
        weights[j] = sum[j] * 0.25;
        main -= std::fabs(sum[j]) * 0.25;
    }
    weights[record->numPre] = main;
    for (double& w : weights) w *= amplitude;
    return weights;
}

std::vector<double> LayoutTapWeights(const FiveTaps& weights, std::int64_t samplesPerBit) {
    const std::size_t zeros = samplesPerBit > 1 ? static_cast<std::size_t>(samplesPerBit - 1) : 0;
    std::vector<double> layout;
    layout.reserve(weights.size() * (zeros + 1));
    for (double w : weights) {
        layout.push_back(w);
        layout.insert(layout.end(), zeros, 0.0);
    }
    return layout;
}

std::string FormatTapWeights(const std::vector<double>& tapWeights, std::int64_t samplesPerBit) {
    static const char* const kLines[kTapPositions] = {
        "\tPre2:\t%f\n", "\tPre1:\t%f\n", "\tMain:\t%f\n", "\tTap1:\t%f\n", "\tTap2:\t%f\n"};
    const std::size_t step = samplesPerBit > 1 ? static_cast<std::size_t>(samplesPerBit) : 1;
    std::string text = "\nCalculated tap weights:\n";
    for (std::size_t j = 0; j < kTapPositions && j * step < tapWeights.size(); ++j) {
        text += ami::Format(kLines[j], tapWeights[j * step]);
    }
    return text;
}

}  // namespace v10kx_ami_tx
