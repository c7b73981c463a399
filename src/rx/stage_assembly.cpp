#include "rx/stage_assembly.hpp"

#include <algorithm>
#include <cmath>

namespace v10kx_ami_rx {
namespace {

bool AllFinite(const std::vector<double>& values, std::size_t count) {
    return std::all_of(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(count),
                       [](double v) { return std::isfinite(v); });
}

bool StrictlyAscending(const std::vector<double>& values, std::size_t count) {
    for (std::size_t i = 1; i < count; ++i) {
        if (!(values[i] > values[i - 1])) return false;
    }
    return true;
}

bool StrictlyDescending(const std::vector<double>& values, std::size_t count) {
    for (std::size_t i = 1; i < count; ++i) {
        if (!(values[i] < values[i - 1])) return false;
    }
    return true;
}

}  // namespace

std::optional<AmiRxFFTMult::StageResponse> StageFromRecord(const ResponseRecord& record,
                                                           std::uint32_t magnitudeRow,
                                                           std::uint32_t phaseRow) {
    const auto& d = record.data;
    if (d.size() <= std::max(magnitudeRow, phaseRow)) return std::nullopt;
    const std::size_t count = std::min({d[0].size(), d[magnitudeRow].size(), d[phaseRow].size()});
    if (count == 0) return std::nullopt;
    if (!AllFinite(d[0], count) || !AllFinite(d[magnitudeRow], count) ||
        !AllFinite(d[phaseRow], count) || !StrictlyAscending(d[0], count)) {
        return std::nullopt;
    }
    AmiRxFFTMult::StageResponse stage;
    stage.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double magnitude = std::pow(10.0, d[magnitudeRow][i] / 20.0);
        const double phase = d[phaseRow][i] * M_PI / 180.0;
        stage.emplace_back(d[0][i], std::polar(magnitude, phase));
    }
    return stage;
}

std::optional<AmplitudeCurve> CurveFromRecord(const ResponseRecord& record, std::uint32_t inRow,
                                              std::uint32_t outRow) {
    const auto& d = record.data;
    if (d.size() <= std::max(inRow, outRow)) return std::nullopt;
    const std::size_t count = std::min(d[inRow].size(), d[outRow].size());
    if (count < 2) return std::nullopt;
    if (!AllFinite(d[inRow], count) || !AllFinite(d[outRow], count)) return std::nullopt;
    if (!StrictlyAscending(d[inRow], count) && !StrictlyDescending(d[inRow], count)) {
        return std::nullopt;
    }
    AmplitudeCurve curve;
    curve.in.assign(d[inRow].begin(), d[inRow].begin() + static_cast<std::ptrdiff_t>(count));
    curve.out.assign(d[outRow].begin(), d[outRow].begin() + static_cast<std::ptrdiff_t>(count));
    return curve;
}

std::vector<StageRows> CtleStageRows(bool fourStages, bool qpi) {
    if (!fourStages) return {{1, 2, 0, 1}};
    std::vector<StageRows> rows;
    for (std::uint32_t stage = 0; stage < 4; ++stage) {
        const std::uint32_t curveRow = (stage > 0 && qpi) ? 2 : 0;
        rows.push_back({1 + 2 * stage, 2 + 2 * stage, curveRow, curveRow + 1});
    }
    return rows;
}

}  // namespace v10kx_ami_rx
