#include "engine/adaptation.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>

#include "engine/adaptation_sweep.hpp"
#include "engine/fft_service.hpp"
#include "engine/stimulus_pattern.hpp"

namespace {

struct CtleKeys {
    double bandwidth;
    const char* path;  // nullptr: the label itself
    const char* variant;
};

CtleKeys CtleKeysFor(const std::string& label) {
    static const std::map<std::string, CtleKeys> keys = {
        {"High-Gain, High BW", {16, nullptr, "H"}},
        {"High-Gain, Low BW", {8, nullptr, "H"}},
        {"High Data Rate, Peak Freq 3", {28, "Low-Gain", "H"}},
        {"High Data Rate, Peak Freq 2", {16, "Low-Gain", "H"}},
        {"High Data Rate, Peak Freq 1", {8, "Low-Gain", "H"}},
        {"High Data Rate, Peak Freq 0", {4, "Low-Gain", "H"}},
        {"QPI", {16, "QPI", "0p25V"}},
    };
    const auto it = keys.find(label);
    return it != keys.end() ? it->second : CtleKeys{16, nullptr, "H"};
}

double VgaBandwidthFor(const std::string& label) {
    if (label == "2") return 16;
    if (label == "1") return 8;
    if (label == "0") return 4;
    return 28;
}

// A decimal number filling the whole text.
bool ParseNumber(const std::string& text, double& value) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    value = std::strtod(begin, &end);
    return end != begin && *end == '\0' && errno == 0 && std::isfinite(value);
}

std::string Describe(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// Empty when the request can be adapted, otherwise why not.
std::string CheckRequest(const AdaptRequest& request, double& configuredDcGain) {
    if (!(request.bitRate > 0) || !std::isfinite(request.bitRate)) {
        return "the bit rate " + Describe(request.bitRate) + " bit/s is not a positive rate";
    }
    if (!(request.samplesPerBit > 0) || !std::isfinite(request.samplesPerBit)) {
        return "the samples per bit " + Describe(request.samplesPerBit) +
               " are not a positive number";
    }
    const std::vector<double>& h = request.impulse;
    if (h.empty()) return "the impulse response is empty";
    for (std::size_t j = 0; j < h.size(); ++j) {
        if (!std::isfinite(h[j])) {
            return "the impulse response holds a value that is not a finite number at sample " +
                   std::to_string(j);
        }
    }
    if (std::all_of(h.begin(), h.end(), [](double v) { return v == 0.0; })) {
        return "the impulse response is zero everywhere";
    }
    const double oneBit = std::max(2.0, std::ceil(request.samplesPerBit));
    if (static_cast<double>(h.size()) < oneBit) {
        return "the impulse response holds " + std::to_string(h.size()) +
               " samples, fewer than one unit interval (" + Describe(oneBit) + " samples)";
    }
    if (!ParseNumber(request.dcGainIndex, configuredDcGain)) {
        return "the configured DC gain '" + request.dcGainIndex + "' is not a number";
    }
    return {};
}

// The adaptation's transforms are long (2^19 and 2^20 points); their plan tables are not kept
// for the model that runs afterwards.
struct ReleasePlansOnExit {
    ~ReleasePlansOnExit() { ReleaseAll(); }
};

AdaptResult NotAdapted(const std::string& reason) {
    AdaptResult result;
    result.reason = reason;
    result.messages.push_back(NoAdaptationWarning(reason));
    return result;
}

std::vector<double> StimulusOf(const AdaptRequest& request, const AdaptationSetup& setup,
                               std::size_t bits) {
    const double impulseInterval = 1.0 / (request.bitRate * request.samplesPerBit);
    return BuildReceivedWaveform(ExpandPattern(SweepPattern(), bits), setup.grid, request.impulse,
                                 impulseInterval);
}

// The second stage: the chosen CTLE and VGA on the longer stimulus, the DFE adapting on it.
void RunDfeStage(const AdaptRequest& request, const AdaptationSetup& setup,
                 const AdaptationBackend& backend, const CandidateGrid& grid,
                 const CandidateSetting& winner, AdaptResult& result) {
    try {
        const std::vector<double> stimulus = StimulusOf(request, setup, kDfeStageBits);
        SweepOptions manual;
        manual.ctleMode = kCtleModeManual;
        manual.vgaMode = std::to_string(winner.vga);
        manual.manual = winner;
        manual.bits = kDfeStageBits;
        manual.samplesPerBit = setup.grid.samplesPerBit;
        const SweepOutcome equalised = RunSweep(backend.evaluator, grid, stimulus, manual);
        if (!equalised.ok) {
            result.messages.push_back("WARNING: The DFE was not adapted: " + equalised.reason +
                                      ".\n");
            return;
        }
        result.dfeStageRan = true;
        result.dfe = backend.dfe.Train(equalised.processed, setup.dfe);
        if (!result.dfe.setUp) result.messages.push_back(kDfeSetUpWarning);
    } catch (const std::exception& e) {
        result.messages.push_back(std::string("WARNING: The DFE was not adapted: ") + e.what() +
                                  ".\n");
    }
}

}  // namespace

std::string NoAdaptationWarning(const std::string& reason) {
    return "WARNING: CTLE/VGA auto-adaptation did not run: " + reason +
           ". The configured AC, DC and VGA gains are kept.\n";
}

AdaptationSetup MakeAdaptationSetup(const AdaptRequest& request) {
    AdaptationSetup setup;
    const CtleKeys ctle = CtleKeysFor(request.ctleModeLabel);
    setup.ctleBandwidth = ctle.bandwidth;
    setup.ctlePath = ctle.path != nullptr ? ctle.path : request.ctleModeLabel;
    setup.ctleVariant = ctle.variant;
    setup.vgaBandwidth = VgaBandwidthFor(request.vgaBandwidthLabel);
    setup.supplyLabel = request.supplyLabel;
    setup.cornerLabel = request.cornerLabel;
    setup.databaseDirectory = request.databaseDirectory;
    setup.grid = {request.bitRate, kAdaptSamplesPerBit};
    setup.dfe.bitTime = 1.0 / request.bitRate;
    setup.dfe.sampleInterval = setup.dfe.bitTime / kAdaptSamplesPerBit;
    setup.dfe.initialTapWeights = request.dfeTapWeights;
    setup.dfe.tapCount = request.tapCount;
    setup.dfe.floatOffset = request.floatOffset;
    setup.dfe.dfeMode = request.dfeMode;
    return setup;
}

AdaptResult Adapt(const AdaptRequest& request, const AdaptationBackend& backend) {
    const ReleasePlansOnExit releasePlans;
    try {
        double configuredDcGain = 0;
        const std::string problem = CheckRequest(request, configuredDcGain);
        if (!problem.empty()) return NotAdapted(problem);
        const AdaptationSetup setup = MakeAdaptationSetup(request);

        const CandidateGrid grid = backend.catalogue.Grid();
        if (grid.dcValues.empty() || grid.boostValues.empty() || grid.vgaGains.empty()) {
            return NotAdapted("the response database in '" + request.databaseDirectory +
                              "' lists no DC gains, AC boosts or VGA gains for '" +
                              request.ctleModeLabel + "'");
        }

        SweepOptions options;
        options.bits = kSweepBits;
        options.samplesPerBit = setup.grid.samplesPerBit;
        options.useHalfStimulus = request.useHalfStimulus;
        options.vgaTarget = setup.defaults.vga.targetAmplitude;
        options.vgaMode = setup.defaults.vga.mode;
        options.figureOfMerit = kFigureArea;
        options.configuredDcGain = configuredDcGain;
        SweepOutcome outcome;
        {
            const std::vector<double> stimulus = StimulusOf(request, setup, kSweepBits);
            outcome = RunSweep(backend.evaluator, grid, stimulus, options);
        }
        if (!outcome.ok) return NotAdapted(outcome.reason);

        AdaptResult result;
        result.adapted = true;
        result.acGain = TruncateSetting(grid.boostValues[outcome.winner.boost]);
        result.dcGain = TruncateSetting(grid.dcValues[outcome.winner.dc]);
        result.vgaGain = outcome.winner.vga;
        result.sweep = std::move(outcome.record);
        result.chosenEye = outcome.winnerEye;
        result.vga = setup.defaults.vga;
        result.vga.chosenIndex = outcome.winner.vga;
        outcome.processed = {};
        if (request.dfeMode != 0)
            RunDfeStage(request, setup, backend, grid, outcome.winner, result);
        return result;
    } catch (const std::exception& e) {
        return NotAdapted(e.what());
    } catch (...) {
        return NotAdapted("an unexpected error stopped it");
    }
}
