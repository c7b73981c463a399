#include "engine/adaptation/vga_selection.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

VgaModeDecision DecideVgaMode(const std::string& mode, std::size_t vgaCount) {
    VgaModeDecision decision;
    if (mode == kVgaModeAuto) {
        decision.kind = VgaModeDecision::Kind::Auto;
        return decision;
    }
    const char* begin = mode.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(begin, &end);
    const bool number = end != begin && *end == '\0' && errno == 0 && std::isfinite(value);
    if (!number) {
        decision.reason = "VGA mode '" + mode +
                          "' is neither \"Auto\" nor a VGA index; no VGA "
                          "gain was chosen";
        return decision;
    }
    if (value < 0 || value != std::trunc(value) || value >= static_cast<double>(vgaCount)) {
        decision.reason = "VGA mode '" + mode + "' names no VGA gain of the database, which " +
                          "holds " + std::to_string(vgaCount) + "; no VGA gain was chosen";
        return decision;
    }
    decision.kind = VgaModeDecision::Kind::Fixed;
    decision.index = static_cast<int>(value);
    return decision;
}

VgaSelector::VgaSelector(double targetAmplitude, const EyeWindow& window)
    : target_(targetAmplitude), window_(window) {}

void VgaSelector::Reset() {
    best_ = -1;
    bestCost_ = 0;
    bestPhases_ = {};
}

double VgaSelector::Cost(std::span<const double> waveform) {
    const std::span<const double> samples = window_.Of(waveform);
    lastPhases_ = meter_.AnalysePhases(samples, window_.samplesPerBit);
    if (!lastPhases_.usable) return std::numeric_limits<double>::infinity();
    const double cost =
        EyeMeter::LevelCost(samples, window_.samplesPerBit, lastPhases_.phase, target_);
    return std::isnan(cost) ? std::numeric_limits<double>::infinity() : cost;
}

bool VgaSelector::Offer(int vgaIndex, std::span<const double> waveform) {
    const double cost = Cost(waveform);
    if (best_ >= 0 && !(cost < bestCost_)) return false;
    best_ = vgaIndex;
    bestCost_ = cost;
    bestPhases_ = lastPhases_;
    return true;
}

int SelectVga(const std::vector<std::vector<double>>& waveforms, double targetAmplitude,
              const EyeWindow& window) {
    VgaSelector selector(targetAmplitude, window);
    for (std::size_t g = 0; g < waveforms.size(); ++g) {
        selector.Offer(static_cast<int>(g), waveforms[g]);
    }
    return selector.Best();
}
