#include "engine/adaptation/adaptation.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "engine/adaptation/adaptation_sweep.hpp"
#include "engine/adaptation/ctle_keys.hpp"
#include "engine/adaptation/stimulus_pattern.hpp"

namespace {

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

AdaptResult NotAdapted(const std::string& reason) {
    AdaptResult result;
    result.reason = reason;
    result.messages.push_back(NoAdaptationWarning(reason));
    return result;
}

std::vector<double> StimulusOf(const AdaptRequest& request, const AdaptationSetup& setup,
                               std::size_t bits, std::size_t lanes) {
    const double impulseInterval = 1.0 / (request.bitRate * request.samplesPerBit);
    return BuildReceivedWaveform(ExpandPattern(SweepPattern(), bits), setup.grid, request.impulse,
                                 impulseInterval, lanes);
}

// The stimulus of `bits` bits, given the sweep's. A whole number of pattern periods is the
// sweep's waveform over again: the received waveform of a periodic pattern is periodic.
SampleBuffer LongerStimulus(const AdaptRequest& request, const AdaptationSetup& setup,
                            const std::vector<double>& sweep, std::size_t bits) {
    const std::size_t period = ExpandPattern(SweepPattern()).size();
    if (period != kSweepBits || bits % period != 0) {
        const std::vector<double> stimulus = StimulusOf(request, setup, bits, 1);
        return SampleBuffer(stimulus.begin(), stimulus.end());
    }
    SampleBuffer stimulus;
    stimulus.reserve(sweep.size() * (bits / period));
    for (std::size_t r = 0; r < bits / period; ++r) {
        stimulus.insert(stimulus.end(), sweep.begin(), sweep.end());
    }
    return stimulus;
}

// The second stage: the chosen CTLE and VGA on the longer stimulus, the DFE adapting on it.
void RunDfeStage(const AdaptRequest& request, const AdaptationSetup& setup,
                 const AdaptationBackend& backend, const CandidateGrid& grid,
                 const CandidateSetting& winner, const std::vector<double>& sweepStimulus,
                 AdaptResult& result) {
    try {
        const SampleBuffer stimulus = LongerStimulus(request, setup, sweepStimulus, kDfeStageBits);
        SweepOptions manual;
        manual.ctleMode = kCtleModeManual;
        manual.vgaMode = std::to_string(winner.vga);
        manual.manual = winner;
        manual.bits = kDfeStageBits;
        manual.samplesPerBit = setup.grid.samplesPerBit;
        SweepOutcome equalised = RunSweep(backend.evaluator, grid, stimulus, manual);
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
    // The adaptation never runs for QPI; its target common-mode code is 0.25 V.
    const CtleLookupKeys ctle = CtleKeysForLabel(request.ctleModeLabel, "0p25V");
    setup.ctleBandwidth = ctle.bandwidth;
    setup.ctlePath = ctle.path;
    setup.ctleVariant = ctle.variant;
    setup.vgaBandwidth = VgaBandwidthKey(request.vgaBandwidthLabel);
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
        options.winnerWaveform = false;  // the DFE stage makes its own, on the longer stimulus
        const std::vector<double> stimulus =
            StimulusOf(request, setup, kSweepBits, backend.evaluator.Lanes());
        SweepOutcome outcome = RunSweep(backend.evaluator, grid, stimulus, options);
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
        if (request.dfeMode != 0) {
            RunDfeStage(request, setup, backend, grid, outcome.winner, stimulus, result);
        }
        return result;
    } catch (const std::exception& e) {
        return NotAdapted(e.what());
    } catch (...) {
        return NotAdapted("an unexpected error stopped it");
    }
}
