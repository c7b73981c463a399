#include "engine/cdr/cdr_vco.hpp"

#include <cmath>
#include <cstdio>

namespace {

constexpr double kTwoPi = 6.283185307179586;

// std::fmod(phase, 2 pi) taken into [0, 2 pi). Phases that have advanced by less than a turn
// (in [0, 4 pi)) skip the library call: there the truncated quotient is 0 or 1 and phase - 2 pi
// is exact, so the result is the library's to the bit.
double WrapPhase(double phase) {
    if (phase >= 0 && phase < 2 * kTwoPi) return phase < kTwoPi ? phase : phase - kTwoPi;
    double wrapped = std::fmod(phase, kTwoPi);
    if (wrapped < 0) wrapped += kTwoPi;
    return wrapped;
}

}  // namespace

void StartVco(VcoState& vco, double f0, const CdrPreset& preset) {
    vco.nominalFrequency = f0;
    vco.frequency_before = f0;
    vco.frequency_after = f0;
    vco.centreFrequency = (3 * f0 + 1e8) / 2;
    vco.voltageOffset = 10.0;
    vco.minFrequency = 1e8;
    vco.maxFrequency = 3 * f0;
    if (preset.vcoMinFrequency > 0) vco.minFrequency = preset.vcoMinFrequency;
    if (preset.vcoMaxFrequency > 0) vco.maxFrequency = preset.vcoMaxFrequency;
    vco.gain = preset.vcoGain;
    vco.divider = preset.outputDivider;
    vco.integer_divider = preset.integerFeedbackDivider;
    vco.feedbackDivider = preset.feedbackDivider;
    vco.controlVoltage = (f0 - f0) / vco.gain;
    vco.loop_delay = 0;
}

double VcoFrequency(VcoState& vco, double controlVoltage) {
    double f = (controlVoltage - vco.voltageOffset) * vco.gain + vco.centreFrequency;
    if (vco.maxFrequency > 0 && f > vco.maxFrequency) f = vco.maxFrequency;
    if (vco.minFrequency > 0 && f < vco.minFrequency) f = vco.minFrequency;
    vco.controlVoltage = (f - vco.feedbackDivider * vco.nominalFrequency) / vco.gain;
    return f;
}

double VcoControlVoltage(const VcoState& vco, double frequency) {
    return (frequency - vco.centreFrequency) / vco.gain + vco.voltageOffset;
}

void VcoMessageLimiter::NegativeInterval(double delta) {
    if (negativeShown_) return;
    negativeShown_ = true;
    std::printf(
        "\nVCO_Phase_Calc: Warning: Clock zero-crossing estimation convergence: eps = %e sec\n",
        delta);
    std::fflush(stdout);
}

void VcoMessageLimiter::DelayLongerThanInterval() {
    if (delayShown_) return;
    delayShown_ = true;
    std::printf(
        "VCO_Phase_calc5: Control Loop Delay is greater than Data/Clock Transition Interval!!");
    std::fflush(stdout);
}

void AdvanceVcoPhase(VcoState& vco, double tPresent, double tPrevious, double a, double b,
                     VcoMessageLimiter& messages) {
    double delta = (tPresent - tPrevious) / b / a;
    if (delta < 0) {
        messages.NegativeInterval(delta);
        delta = 0;
    } else if (vco.loop_delay > delta) {
        messages.DelayLongerThanInterval();
    }
    const double perSecond = kTwoPi / vco.divider / vco.integer_divider;
    if (vco.loop_delay == 0) {
        vco.phase = WrapPhase(vco.phase + perSecond * vco.frequency_after * delta);
        return;
    }
    const double tau = vco.loop_delay;
    vco.phase = WrapPhase(vco.phase + perSecond * vco.frequency_before * tau);
    vco.phase = WrapPhase(vco.phase + perSecond * vco.frequency_after * (delta - tau));
}
