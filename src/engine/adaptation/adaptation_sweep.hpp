#pragma once
// The sweep over CTLE settings: every DC-gain candidate (outer) and AC-boost candidate (inner),
// each with the VGA gain SelectVga picks, measured by the eye measurement and compared by
// ChooseBest; then, when its waveform is wanted, the winner is evaluated once more.
#include <span>
#include <string>
#include <vector>

#include "engine/adaptation/adaptation_interfaces.hpp"
#include "engine/adaptation/eye_measurement.hpp"
#include "engine/adaptation/sweep_record.hpp"
#include "engine/adaptation/vga_selection.hpp"

inline constexpr const char* kCtleModeAuto = "Auto";
inline constexpr const char* kCtleModeManual = "Manual";

struct SweepOptions {
    std::string ctleMode = kCtleModeAuto;  // "Auto": sweep; "Manual": evaluate `manual` once
    std::string vgaMode = kVgaModeAuto;    // "Auto" or a VGA index
    std::string figureOfMerit = kFigureArea;
    std::size_t bits = 16384;  // bits the eye measurement reads
    int samplesPerBit = 32;
    // Only the first half of the stimulus (whole bits) takes part, and the eye reads that many
    // bits.
    bool useHalfStimulus = false;
    double vgaTarget = 0.3;
    // DC-gain candidates: as many values from the start of the database's list as there are
    // values not greater than this.
    double configuredDcGain = 0;
    CandidateSetting manual;  // "Manual": the DC and boost indices (the VGA follows vgaMode)
    // "Auto": evaluate the winner once more for its waveform (`processed`). Without it the
    // winner's eye is the one its sweep row was measured with (the evaluation is repeatable), and
    // `processed` stays empty unless nothing was swept.
    bool winnerWaveform = true;
};

struct SweepOutcome {
    bool ok = false;
    std::string reason;  // why the sweep could not run, when !ok
    SweepRecord record;
    BestChoice choice;
    CandidateSetting winner;
    EyeMetrics winnerEye;    // of the winner
    SampleBuffer processed;  // the final evaluation's waveform
};

// "Auto" evaluates every candidate with the DFE adapting, then the winner once more (unless
// `winnerWaveform` is off); "Manual" evaluates the given setting once with the DFE left out.
// With VGA mode "Auto" each candidate's VGA gain is chosen among all of the database's gains
// (evaluated with the same DFE run), with a number it is that index. Lists the sweep needs that
// are empty, an unknown CTLE mode or a VGA mode that chooses nothing end the sweep with ok false
// and a reason.
SweepOutcome RunSweep(CandidateEvaluator& evaluator, const CandidateGrid& grid,
                      std::span<const double> stimulus, const SweepOptions& options);
