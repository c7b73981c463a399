#pragma once
// Choice of the VGA gain for one CTLE setting: the gain whose samples at the eye's sampling
// phase lie closest to a target amplitude.
#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "engine/adaptation/eye_measurement.hpp"

inline constexpr const char* kVgaModeAuto = "Auto";

// The VGA-selection record: target amplitude (volts), mode ("Auto" or a VGA index) and the
// chosen index (-1 when none was chosen).
struct VgaSelection {
    double targetAmplitude = 0.3;
    std::string mode = kVgaModeAuto;
    double chosenIndex = -1;
};

// What a VGA mode asks for, given the number of VGA gains of the database.
struct VgaModeDecision {
    enum class Kind { Auto, Fixed, None };
    Kind kind = Kind::None;
    int index = -1;      // Fixed: the VGA index the mode names
    std::string reason;  // None: why no VGA can be chosen
};
// "Auto" evaluates every gain; a number names the index directly (it must be a whole number
// below vgaCount); anything else chooses none.
VgaModeDecision DecideVgaMode(const std::string& mode, std::size_t vgaCount);

// The cost of one VGA candidate's waveform and the phase analysis it came from.
struct VgaJudgement {
    double cost = 0;
    EyeMeter::PhaseAnalysis phases;
};
// The cost VgaSelector gives `waveform` (infinite when its window holds a non-finite sample),
// with the caller's meter, so that candidates can be judged on several threads at once.
VgaJudgement JudgeVgaCandidate(EyeMeter& meter, const EyeWindow& window, double targetAmplitude,
                               std::span<const double> waveform);

// Takes the processed waveform of each VGA candidate in turn and keeps the cheapest:
// cost = sum over the samples at the sampling phase (found as the eye measurement finds it) of
// (|sample| - target)^2. The first candidate wins ties; a waveform with a non-finite sample in the
// window costs infinitely much.
class VgaSelector {
  public:
    VgaSelector(double targetAmplitude, const EyeWindow& window);

    void Reset();
    // True when this candidate is now the cheapest (the caller keeps its waveform then).
    bool Offer(int vgaIndex, std::span<const double> waveform);
    // The same for a candidate judged already (by JudgeVgaCandidate with this target and window).
    bool Offer(int vgaIndex, const VgaJudgement& judgement);
    double Target() const { return target_; }
    const EyeWindow& Window() const { return window_; }
    // -1 before the first offer.
    int Best() const { return best_; }
    double BestCost() const { return bestCost_; }
    // The phase analysis of the cheapest candidate's window.
    const EyeMeter::PhaseAnalysis& BestPhases() const { return bestPhases_; }
    double Cost(std::span<const double> waveform);

  private:
    double target_;
    EyeWindow window_;
    EyeMeter meter_;
    int best_ = -1;
    double bestCost_ = 0;
    EyeMeter::PhaseAnalysis bestPhases_;
};

// The index of the cheapest of `waveforms` (-1 for none).
int SelectVga(const std::vector<std::vector<double>>& waveforms, double targetAmplitude,
              const EyeWindow& window);
