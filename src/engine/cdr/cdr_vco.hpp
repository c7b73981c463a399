#pragma once
// The clock-recovery oscillator: its control law (voltage to frequency, within limits) and the
// running phase from which the clock edges follow.
#include <cstdint>

#include "engine/cdr/cdr_presets.hpp"

struct VcoState {
    double phase = 0;       // radian, in [0, 2 pi)
    double loop_delay = 0;  // s; the frequency before a control update runs on for this long
    double frequency_before = 0;
    double frequency_after = 0;
    double divider = 1;  // VCO frequency / clock frequency
    std::int32_t integer_divider = 1;

    double nominalFrequency = 0;
    double centreFrequency = 0;
    double voltageOffset = 0;
    double gain = 0;  // Hz/V
    double feedbackDivider = 1;
    double minFrequency = 0;
    double maxFrequency = 0;
    double controlVoltage = 0;  // deviation from the nominal frequency, in volts of control
};

// Sets the law up around the nominal VCO frequency f0 with the gain, dividers and (where they
// are given) frequency limits of the preset; the VCO starts at f0.
void StartVco(VcoState& vco, double f0, const CdrPreset& preset);

// Frequency for a control voltage, limited to the VCO's range.
double VcoFrequency(VcoState& vco, double controlVoltage);
// The control voltage at which the law gives `frequency`.
double VcoControlVoltage(const VcoState& vco, double frequency);

// The two phase-advance messages go to standard output at most once each between Rearm calls:
// on a bad waveform they could otherwise fire at every loop event.
class VcoMessageLimiter {
  public:
    void Rearm() { negativeShown_ = delayShown_ = false; }
    void NegativeInterval(double delta);
    void DelayLongerThanInterval();

  private:
    bool negativeShown_ = false;
    bool delayShown_ = false;
};

// Advances the phase over the interval from tPrevious to tPresent; the interval in seconds is
// (tPresent - tPrevious) / b / a.
void AdvanceVcoPhase(VcoState& vco, double tPresent, double tPrevious, double a, double b,
                     VcoMessageLimiter& messages);
