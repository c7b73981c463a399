#pragma once
// adaptation/: the CTLE/VGA sweep (stimulus, candidates, eye measurement, choice).
//
// The receiver's equaliser auto-adaptation: it builds the stimulus the receiver would see from a
// fixed bit pattern and the simulator's impulse response, sweeps the CTLE and VGA settings of
// the response database through the receiver's own processing, keeps the setting with the
// widest-and-tallest eye ("Area"), and, with the DFE on, lets the DFE adapt on that setting.
//
// The receiver constructor calls it as
//     AdaptRequest request{...};                  // its impulse, DFE settings, labels, rates
//     AdaptationSetup setup = MakeAdaptationSetup(request);
//     ...build its catalogue, evaluator and DFE trainer for `setup`...
//     AdaptResult result = Adapt(request, {catalogue, evaluator, trainer});
//     for (auto& line : result.messages) msgLog += line;
//     if (result.adapted) { ...use result.acGain, result.dcGain, result.vgaGain... }
// Adapt never throws: whatever stops it becomes one WARNING line in `messages`, and the caller
// keeps its configured gains.
#include <array>
#include <string>
#include <vector>

#include "engine/adaptation/adaptation_interfaces.hpp"
#include "engine/adaptation/eye_measurement.hpp"
#include "engine/adaptation/stimulus_waveform.hpp"
#include "engine/adaptation/sweep_record.hpp"
#include "engine/adaptation/vga_selection.hpp"

// Settings a run starts from. The values the sweep itself uses are the stimulus levels, the LMS
// step of the DFE stage and the VGA selection; the others are carried for the equaliser
// simulation of the receiver chain.
struct AdaptationDefaults {
    // The run.
    std::string combination = "Vector Sum";
    std::string patternSource = "Custom";
    double dataRate = 10.3125e9;
    std::array<int, 3> runCounts{5, 25, 200};
    std::array<double, 5> referenceTaps{-0.03148, -0.00364, -0.00225, 0.00258, -0.00347};
    // The equaliser simulation.
    std::string algorithm = "LMS";
    double stepSize = 0.0078125;
    double stepScale = 1.0;
    double simulationRate = 8e9;
    std::string simulationFamily = "Meldane V KX";
    double levelHigh = kStimulusLevel;
    double levelLow = -kStimulusLevel;
    std::array<int, 3> simulationCounts{4, 64, 7};
    // The VGA selection: target 0.3 V, mode "Auto", nothing chosen yet.
    VgaSelection vga;
};

// Samples per unit interval of the adaptation's grid (and of the DFE stage).
inline constexpr int kAdaptSamplesPerBit = 32;
// Bits of the sweep's stimulus and of the DFE stage's.
inline constexpr std::size_t kSweepBits = 16384;
inline constexpr std::size_t kDfeStageBits = 32768;

struct AdaptRequest {
    std::vector<double> impulse;  // row 0 of the impulse matrix, 1/s, at the simulator's interval
    std::vector<double> dfeTapWeights;  // initial weights, volts
    int tapCount = 11;
    int floatOffset = 0;
    int dfeMode = 0;                // 0: DFE off, no second stage
    std::string supplyLabel;        // "0.9 V", "1.0 V", "1.1 V"
    std::string cornerLabel;        // "Typical", "Fast", "Slow"
    std::string vgaBandwidthLabel;  // "0" .. "3"
    std::string ctleModeLabel;      // e.g. "High-Gain, Low BW", "High Data Rate, Peak Freq 2"
    std::string dcGainIndex;        // the configured DC-gain index, as decimal text
    std::string databaseDirectory;
    double bitRate = 0;        // bit/s
    double samplesPerBit = 0;  // bit time / the simulator's sample interval
    bool useHalfStimulus = false;
};

// Everything the receiver needs to build its side of the adaptation, derived from the request.
struct AdaptationSetup {
    AdaptationDefaults defaults;
    std::string family = "Vanta 10 KT";
    // The CTLE and VGA requests of the response database.
    double ctleBandwidth = 16;
    std::string ctlePath;
    std::string ctleVariant = "H";
    double vgaBandwidth = 28;
    std::string supplyLabel;
    std::string cornerLabel;
    std::string databaseDirectory;
    // The grid the stimulus and the candidates run on.
    ModelGrid grid;
    DfeStageSetup dfe;
};

// CTLE keys by CTLE mode label: "High-Gain, High BW" 16 and "High-Gain, Low BW" 8 (the label is
// the path); "High Data Rate, Peak Freq 3/2/1/0" 28/16/8/4 with path "Low-Gain"; "QPI" 16 with
// path "QPI" and the 0.25 V variant; any other label 16 with the label as path. VGA bandwidth
// key by label: "3" 28, "2" 16, "1" 8, "0" 4, anything else 28.
AdaptationSetup MakeAdaptationSetup(const AdaptRequest& request);

struct AdaptationBackend {
    ResponseCatalogue& catalogue;
    CandidateEvaluator& evaluator;
    DfeTrainer& dfe;
};

struct AdaptResult {
    bool adapted = false;
    // The chosen settings: AC boost and DC gain values of the database, VGA index.
    int acGain = 0;
    int dcGain = 0;
    int vgaGain = 0;
    std::string reason;  // why nothing was adapted, when !adapted
    // Lines for the model's message log, each ending in "\n": the reason as one WARNING line when
    // nothing was adapted, the DFE stage's warnings otherwise.
    std::vector<std::string> messages;
    SweepRecord sweep;
    EyeMetrics chosenEye;
    VgaSelection vga;  // target and mode of the run, and the VGA index it chose
    bool dfeStageRan = false;
    DfeStageResult dfe;
};

// The WARNING line written when the adaptation does not run.
std::string NoAdaptationWarning(const std::string& reason);
// Written when the DFE stage cannot set its DFE up.
inline constexpr const char* kDfeSetUpWarning = "WARNING: DFE failed to initialize properly!\n";

// Validates the request (a finite, non-zero impulse of at least one unit interval, positive
// rates, a numeric DC-gain index, a database that lists candidates), builds the 16384-bit
// stimulus, sweeps, and with dfeMode non-zero runs the DFE stage on a 32768-bit stimulus. It
// changes no state outside its arguments: its transforms' plans go with the buffers they serve.
AdaptResult Adapt(const AdaptRequest& request, const AdaptationBackend& backend);
