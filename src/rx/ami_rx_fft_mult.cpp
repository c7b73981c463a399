#include "rx/ami_rx_fft_mult.hpp"

#include <algorithm>
#include <cmath>
#include <new>
#include <string>

#include "engine/amplitude_curve_stage.hpp"
#include "engine/fft_service.hpp"
#include "framework/ts_exceptions.hpp"
#include "rx/decision_stage.hpp"
#include "rx/fft_size.hpp"
#include "rx/filter_stage.hpp"
#include "rx/rx_format.hpp"
#include "rx/statistical_dfe.hpp"

using v10kx_ami_rx::Format;

namespace {
// The step of the DFE's data level, volts.
constexpr double kDfeLevelStep = 0.01;
}  // namespace

AmiRxFFTMult::AmiRxFFTMult(long row_size, int aggressors, double sample_interval, double bit_time,
                           const char* AMI_parameters_in)
    : AmiModel(row_size, aggressors, sample_interval, bit_time, AMI_parameters_in) {
    adaptDumpsAllowed = true;
}

AmiRxFFTMult::~AmiRxFFTMult() {
    // The plans were built for this model's lengths; the next model builds its own.
    ReleaseAll();
}

void AmiRxFFTMult::Configure() {
    const double spb = bitTime / sampleInterval;
    const std::int64_t n = rowSize;
    const bool mixedRadix = GetFftSelector() == kFftSelectorMixedRadix;
    // Waveform blocks keep the history the stage responses need, and room for what they ring
    // ahead of time zero; the impulse follows the rule.
    const std::int64_t minHistory = mixedRadix && n > 0 ? HistoryNeeded() + LookAheadNeeded() : 0;
    const std::int64_t size = v10kx_ami_rx::ChooseFftSize(n, spb, mixedRadix, minHistory);
    if (debugOn) {
        const std::string text = Format("Nfft: %ld\n", static_cast<long>(size));
        msgLog += text;
        WriteDebug(text);
    }

    // The new chain is built aside and committed at the end, so that a failed allocation leaves
    // the previous one whole (and recognisably not the one for rowSize).
    const std::size_t points = static_cast<std::size_t>(size);
    const std::size_t pad = static_cast<std::size_t>(size - n);
    SignalChain chain;
    OverlapSaveChain* window = nullptr;
    std::vector<const SpectrumStage*> filters;
    try {
        if (n > 0 && !stageResponses.empty()) {
            auto workspace = std::make_shared<FftWorkspace>(points);
            // Waveform blocks hold their last input where the responses ring ahead of time zero,
            // when the window has room for that beside the history they need.
            const std::size_t lookAhead =
                mixedRadix && pad >= static_cast<std::size_t>(HistoryNeeded() + LookAheadNeeded())
                    ? static_cast<std::size_t>(LookAheadNeeded())
                    : 0;
            auto overlapSave = std::make_unique<OverlapSaveChain>(workspace, pad, lookAhead);
            for (std::size_t k = 0; k < stageResponses.size(); ++k) {
                auto filter =
                    v10kx_ami_rx::MakeFilterStage(stageResponses[k], sampleInterval, workspace);
                filters.push_back(filter.get());
                overlapSave->Append(std::move(filter));
                if (!stageCurveIn[k].empty()) {
                    overlapSave->Append(
                        std::make_unique<AmplitudeCurveStage>(stageCurveIn[k], stageCurveOut[k]));
                }
            }
            // The newest inputs carry over, aligned to the end.
            if (window_) overlapSave->CarryHistoryFrom(*window_);
            window = overlapSave.get();
            chain.Append(std::move(overlapSave));
        }
        if (dfe) chain.Append(std::make_unique<DecisionStage>(*this));
    } catch (const std::bad_alloc&) {
        throw EFailedAllocation(Format("%ld doubles", static_cast<long>(points + 2)));
    }

    fftSize = static_cast<std::int32_t>(size);
    padSize = static_cast<std::int32_t>(pad);
    prevFftSize = fftSize;
    binSpacing = 1.0 / (static_cast<double>(size) * sampleInterval);
    chain_ = std::move(chain);
    window_ = window;
    filterStages_ = std::move(filters);
}

std::int64_t AmiRxFFTMult::HistoryNeeded() {
    if (historyNeeded_ < 0) {
        historyNeeded_ = static_cast<std::int64_t>(v10kx_ami_rx::CascadeHistoryLength(
            stageResponses, sampleInterval, bitTime / sampleInterval));
    }
    return historyNeeded_;
}

std::int64_t AmiRxFFTMult::LookAheadNeeded() {
    if (lookAheadNeeded_ < 0) {
        lookAheadNeeded_ = static_cast<std::int64_t>(v10kx_ami_rx::CascadeLookAheadLength(
            stageResponses, sampleInterval, bitTime / sampleInterval));
    }
    return lookAheadNeeded_;
}

bool AmiRxFFTMult::ConfiguredForRowSize() const {
    if (fftSize <= 0 || static_cast<std::int64_t>(padSize) + rowSize != fftSize) return false;
    if (rowSize <= 0 || stageResponses.empty()) return true;
    return window_ != nullptr && window_->FftSize() == static_cast<std::size_t>(fftSize) &&
           window_->HistoryLength() == static_cast<std::size_t>(padSize);
}

bool AmiRxFFTMult::ConfiguredForWaveform() {
    return ConfiguredForRowSize() &&
           (filterStages_.empty() || padSize >= HistoryNeeded() + LookAheadNeeded());
}

void AmiRxFFTMult::Init(double* impulseMatrix, int impulseFlag) {
    // The impulse is transformed once with the power-of-two engine and its length rule.
    ScopedFftSelector radix2(kFftSelectorRadix2);
    const bool haveImpulse = impulseMatrix != nullptr && rowSize > 0;

    if (debugOn && haveImpulse) {
        WriteDebug("Pre-init Impulse Response:");
        // One line per sample, handed over (and flushed) once rather than per sample.
        std::string lines;
        for (std::int32_t i = 0; i < rowSize; ++i) {
            if (i > 0) lines += '\n';
            lines += Format("%e", impulseMatrix[i]);
        }
        WriteDebug(lines);
    }
    AmiModel::Init();
    lastInputSample = 0;
    lastOutputSample = 0;
    if (!haveImpulse) return;

    // Work on a copy so that a failure leaves the simulator's impulse response untouched.
    blockBuffer_.assign(impulseMatrix, impulseMatrix + rowSize);
    std::vector<double> clockTimes;
    FilterBlock(blockBuffer_.data(), impulseFlag != 0, clockTimes);

    if (dfe) WriteDfeIntoImpulse();
    std::copy(blockBuffer_.begin(), blockBuffer_.end(), impulseMatrix);
}

void AmiRxFFTMult::WriteDfeIntoImpulse() {
    double* row0 = blockBuffer_.data();
    const std::size_t n = static_cast<std::size_t>(rowSize);
    std::int32_t maxIndex = 0;
    double maxValue = 0.0;
    for (std::int32_t i = 0; i < rowSize; ++i) {
        if (row0[i] > maxValue) {
            maxValue = row0[i];
            maxIndex = i;
        }
    }
    if (debugOn) WriteDebug(Format("max_ind: %ld", static_cast<long>(maxIndex)));

    // Fixed taps are the user's, with or without an adaptation; otherwise the adaptation's
    // taps, when it ran. Without either the impulse stays as it is.
    std::vector<double> weights;
    std::vector<int> codes;
    double level = 0;
    const double spbExact = std::round(bitTime / sampleInterval);
    if (!(spbExact >= 1 && spbExact < static_cast<double>(n))) return;
    const std::size_t spb = static_cast<std::size_t>(spbExact);
    const std::vector<double> pulse = v10kx_ami_rx::BitPulse(row0, n, spb, sampleInterval);
    const std::size_t mainIndex = v10kx_ami_rx::MainCursorIndex(pulse);
    if (dfe->FixedTaps()) {
        // The weights the waveform's DFE will run at, from the largest sample and the data
        // level it will see on this pulse.
        const v10kx_ami_rx::DfeLevels levels =
            v10kx_ami_rx::EstimateDfeLevels(pulse, mainIndex, spb, kDfeLevelStep);
        codes = dfe->FixedTapCodes();
        weights = dfe->FixedTapWeights(levels.peak);
        level = levels.dataLevel;
    } else {
        weights = dfe->TapWeights();
        codes = dfe->TapCodes();
        if (weights.empty() || codes.empty()) return;
        level = dfe->TapDataLevel();
        if (!(level > 0)) {
            level = v10kx_ami_rx::EstimateDfeLevels(pulse, mainIndex, spb, kDfeLevelStep).dataLevel;
        }
    }
    const std::size_t count = std::min(weights.size(), codes.size());
    if (count == 0) return;
    weights.resize(count);
    codes.resize(count);
    ReportTaps(weights, codes);
    paramsOut += ")\n";
    // What the waveform's DFE subtracts for a bit decided k bits back: its weight times the
    // data level.
    std::vector<double> cancel(count);
    for (std::size_t k = 0; k < count; ++k) cancel[k] = weights[k] * level;
    v10kx_ami_rx::WriteDfeCancellation(row0, n, mainIndex, spb, sampleInterval, cancel);
}

void AmiRxFFTMult::ReportTaps(const std::vector<double>& weights, const std::vector<int>& codes) {
    const std::size_t close = paramsOut.rfind(')');
    reportCut = close == std::string::npos ? paramsOut.size() : close;
    paramsOut.resize(reportCut);
    const std::size_t count = std::min(weights.size(), codes.size());
    for (std::size_t k = 0; k < count; ++k) {
        paramsOut += Format(" (tap_%d %d %f)", static_cast<int>(k + 1), codes[k], weights[k]);
    }
}

void AmiRxFFTMult::FilterBlock(double* samples, bool impulse, std::vector<double>& clockTimes) {
    clockTimes.clear();
    if (rowSize <= 0) return;
    if (impulse) {
        FilterImpulse(samples);
    } else {
        FilterWaveform(samples, clockTimes);
    }
}

void AmiRxFFTMult::FilterImpulse(double* samples) {
    // Without stages a transform pair would only add rounding.
    if (filterStages_.empty()) return;
    FilterCascadeFromSilence(filterStages_, static_cast<std::size_t>(padSize), samples,
                             static_cast<std::size_t>(rowSize));
}
