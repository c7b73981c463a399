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

VgaJudgement JudgeVgaCandidate(EyeMeter& meter, const EyeWindow& window, double targetAmplitude,
                               std::span<const double> waveform) {
    VgaJudgement judgement;
    const std::span<const double> samples = window.Of(waveform);
    judgement.phases = meter.AnalysePhases(samples, window.samplesPerBit);
    if (!judgement.phases.usable) {
        judgement.cost = std::numeric_limits<double>::infinity();
        return judgement;
    }
    const double cost =
        EyeMeter::LevelCost(samples, window.samplesPerBit, judgement.phases.phase, targetAmplitude);
    judgement.cost = std::isnan(cost) ? std::numeric_limits<double>::infinity() : cost;
    return judgement;
}

double VgaSelector::Cost(std::span<const double> waveform) {
    return JudgeVgaCandidate(meter_, window_, target_, waveform).cost;
}

bool VgaSelector::Offer(int vgaIndex, std::span<const double> waveform) {
    return Offer(vgaIndex, JudgeVgaCandidate(meter_, window_, target_, waveform));
}

bool VgaSelector::Offer(int vgaIndex, const VgaJudgement& judgement) {
    if (best_ >= 0 && !(judgement.cost < bestCost_)) return false;
    best_ = vgaIndex;
    bestCost_ = judgement.cost;
    bestPhases_ = judgement.phases;
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
