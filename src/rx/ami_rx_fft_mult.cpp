#include "rx/ami_rx_fft_mult.hpp"

#include <algorithm>
#include <cmath>
#include <new>
#include <string>

#include "engine/fft/fft_service.hpp"
#include "engine/stages/amplitude_curve_stage.hpp"
#include "engine/stages/partitioned_filter_stage.hpp"
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
                           const char* AMI_parameters_in, FftEngine fftEngine)
    : AmiModel(row_size, aggressors, sample_interval, bit_time, AMI_parameters_in),
      fftEngine_(fftEngine) {
    adaptDumpsAllowed = true;
}

AmiRxFFTMult::~AmiRxFFTMult() {
    // The plans were built for this model's lengths; the next model builds its own.
    ReleaseAll();
}

void AmiRxFFTMult::Configure() {
    if (configuringImpulse_) {
        Configure(v10kx_ami_rx::FftLengthRule::PowerOfTwo);
    } else {
        ConfigureForBlocks();
    }
}

void AmiRxFFTMult::Configure(v10kx_ami_rx::FftLengthRule rule) {
    const double spb = bitTime / sampleInterval;
    const std::int64_t n = rowSize;
    const bool mixedRadix = rule == v10kx_ami_rx::FftLengthRule::MixedRadix;
    // The length the rule gives waveform blocks, with the history the stage responses need and
    // room for what they ring ahead of time zero; the impulse follows the rule alone. For blocks
    // only the debug line names that length (the stage filters choose their own transforms), so
    // the history is measured only when debugging.
    const std::int64_t minHistory =
        mixedRadix && n > 0 && debugOn ? HistoryNeeded() + LookAheadNeeded() : 0;
    const std::int64_t size = v10kx_ami_rx::ChooseFftSize(n, spb, rule, minHistory);
    if (debugOn) {
        const std::string text = Format("Nfft: %ld\n", static_cast<long>(size));
        msgLog += text;
        WriteDebug(text);
    }
    if (mixedRadix) {
        ConfigureWaveform();
    } else {
        ConfigureImpulse(size);
    }
    fftSize = static_cast<std::int32_t>(size);
    padSize = static_cast<std::int32_t>(size - n);
}

void AmiRxFFTMult::ConfigureForBlocks() {
    if (ConfiguredForWaveform()) return;
    // A block as long as the impulse takes the length rule again only where the impulse's grid
    // leaves less history than the stage responses need; a block of a new length, or one after
    // a failed reconfiguration, always does.
    const bool impulseGridServes =
        fftSize > 0 && static_cast<std::int64_t>(padSize) + rowSize == fftSize &&
        (stageResponses.empty() || !debugOn || padSize >= HistoryNeeded() + LookAheadNeeded());
    if (impulseGridServes) {
        ConfigureWaveform();
    } else {
        Configure(v10kx_ami_rx::FftLengthRule::MixedRadix);
    }
}

void AmiRxFFTMult::ConfigureImpulse(std::int64_t size) {
    // Built aside and committed at the end, so that a failed allocation leaves the previous
    // stages whole.
    const std::size_t points = static_cast<std::size_t>(size);
    std::vector<std::unique_ptr<SpectrumStage>> stages;
    std::vector<const SpectrumStage*> filters;
    try {
        if (rowSize > 0 && !stageResponses.empty()) {
            auto workspace = std::make_shared<FftWorkspace>(points, fftEngine_);
            for (const StageResponse& response : stageResponses) {
                stages.push_back(
                    v10kx_ami_rx::MakeFilterStage(response, sampleInterval, workspace));
                filters.push_back(stages.back().get());
            }
        }
    } catch (const std::bad_alloc&) {
        throw EFailedAllocation(Format("%ld doubles", static_cast<long>(points + 2)));
    }
    impulseStages_ = std::move(stages);
    filterStages_ = std::move(filters);
}

void AmiRxFFTMult::BuildWaveformChain() {
    SignalChain chain;
    std::vector<PartitionedFilterStage*> filters;
    const std::vector<std::vector<double>> taps =
        v10kx_ami_rx::CascadeStageTaps(stageResponses, sampleInterval, bitTime / sampleInterval);
    for (std::size_t k = 0; k < stageResponses.size(); ++k) {
        auto filter = std::make_unique<PartitionedFilterStage>(taps[k], 0, fftEngine_);
        filters.push_back(filter.get());
        chain.Append(std::move(filter));
        if (!stageCurveIn[k].empty()) {
            chain.Append(std::make_unique<AmplitudeCurveStage>(stageCurveIn[k], stageCurveOut[k]));
        }
    }
    DecisionStage* decision = nullptr;
    if (dfe) {
        auto stage = std::make_unique<DecisionStage>(*this);
        decision = stage.get();
        chain.Append(std::move(stage));
    }
    chain_ = std::move(chain);
    decisionStage_ = decision;
    waveformFilters_ = std::move(filters);
    chainBuilt_ = true;
}

void AmiRxFFTMult::ConfigureWaveform() {
    if (rowSize <= 0) return;
    try {
        if (!chainBuilt_) BuildWaveformChain();
        for (PartitionedFilterStage* filter : waveformFilters_)
            filter->SetBlockLength(static_cast<std::size_t>(rowSize));
    } catch (const std::bad_alloc&) {
        throw EFailedAllocation(Format("%ld doubles", static_cast<long>(2 * rowSize)));
    }
    if (debugOn && !waveformFilters_.empty()) {
        std::string text = "Stage transform lengths:";
        for (const PartitionedFilterStage* filter : waveformFilters_) {
            text += Format(" %ld (%ld taps)", static_cast<long>(filter->TransformLength()),
                           static_cast<long>(filter->TapCount()));
        }
        text += "\n";
        msgLog += text;
        WriteDebug(text);
    }
    waveformRowSize_ = rowSize;
    // The impulse's grid has served its purpose.
    impulseStages_.clear();
    filterStages_.clear();
}

void AmiRxFFTMult::MeasureSpans() {
    if (historyNeeded_ >= 0) return;
    // One measure gives both sides.
    const v10kx_ami_rx::CascadeSpan span =
        v10kx_ami_rx::MeasureCascadeSpan(stageResponses, sampleInterval, bitTime / sampleInterval);
    historyNeeded_ = static_cast<std::int64_t>(span.history);
    lookAheadNeeded_ = static_cast<std::int64_t>(span.lookAhead);
}

std::int64_t AmiRxFFTMult::HistoryNeeded() {
    MeasureSpans();
    return historyNeeded_;
}

std::int64_t AmiRxFFTMult::LookAheadNeeded() {
    MeasureSpans();
    return lookAheadNeeded_;
}

void AmiRxFFTMult::Init(double* impulseMatrix, int impulseFlag) {
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
    // The base configures for the impulse, which takes the power-of-two length rule.
    configuringImpulse_ = true;
    try {
        AmiModel::Init();
    } catch (...) {
        configuringImpulse_ = false;
        throw;
    }
    configuringImpulse_ = false;
    lastInputSample = 0;
    lastOutputSample = 0;
    if (!haveImpulse) return;

    // Work on a copy so that a failure leaves the simulator's impulse response untouched.
    blockBuffer_.assign(impulseMatrix, impulseMatrix + rowSize);
    FilterBlock(blockBuffer_.data(), impulseFlag != 0);

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
    paramsOut.resize(close == std::string::npos ? paramsOut.size() : close);
    const std::size_t count = std::min(weights.size(), codes.size());
    for (std::size_t k = 0; k < count; ++k) {
        paramsOut += Format(" (tap_%d %d %f)", static_cast<int>(k + 1), codes[k], weights[k]);
    }
}

void AmiRxFFTMult::FilterBlock(double* samples, bool impulse) {
    if (rowSize <= 0) return;
    if (impulse) {
        FilterImpulse(samples);
    } else {
        FilterWaveform(samples);
    }
}

const std::vector<double>& AmiRxFFTMult::BlockClockTimes() const {
    static const std::vector<double> none;
    return decisionStage_ ? decisionStage_->ClockTimes() : none;
}

void AmiRxFFTMult::FilterImpulse(double* samples) {
    // Without stages a transform pair would only add rounding.
    if (filterStages_.empty()) return;
    FilterCascadeFromSilence(filterStages_, static_cast<std::size_t>(padSize), samples,
                             static_cast<std::size_t>(rowSize));
}
