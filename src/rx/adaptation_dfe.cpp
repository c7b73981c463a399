#include "rx/adaptation_dfe.hpp"

#include <algorithm>

#include "rx/dfe_taps.hpp"

namespace v10kx_ami_rx {
namespace {

// Volts of a full-scale code per tap, by VGA bandwidth index.
constexpr double kTapScale[4][kDfeTapCount] = {
    {0.529, 0.635, 0.635, 0.315, 0.315, 0.155, 0.155, 0.315, 0.315, 0.315, 0.315},
    {0.529, 0.318, 0.318, 0.158, 0.158, 0.0755, 0.0755, 0.158, 0.158, 0.158, 0.158},
    {0.529, 0.212, 0.212, 0.105, 0.105, 0.0517, 0.0517, 0.105, 0.105, 0.105, 0.105},
    {0.529, 0.159, 0.159, 0.0788, 0.0788, 0.0388, 0.0388, 0.0788, 0.0788, 0.0788, 0.0788},
};

}  // namespace

std::vector<double> AdaptationStartTaps(const std::vector<int>& codes, int vgaBandwidthIndex) {
    const int row = vgaBandwidthIndex >= 0 && vgaBandwidthIndex < 4 ? vgaBandwidthIndex : 0;
    std::vector<double> weights;
    for (std::size_t k = 0; k < codes.size() && k < kDfeTapCount; ++k) {
        weights.push_back(codes[k] * kTapScale[row][k] / (kDfeTapRanges[k] / 2.0));
    }
    return weights;
}

AdaptationDfe::AdaptationDfe(const DfeStageSetup& sweep, AdaptationDfeContext context)
    : sweepStage_(sweep), context_(std::move(context)) {
    sweep_ = SetupFor(sweep);
    dfe_.SetClockTimesOut(false);
}

DfeSetup AdaptationDfe::SetupFor(const DfeStageSetup& stage) const {
    DfeSetup setup;
    setup.sampleInterval = stage.sampleInterval;
    setup.bitTime = stage.bitTime;
    setup.limits = context_.limits;
    setup.initialWeights = stage.initialTapWeights;
    setup.tapCount = stage.tapCount;
    setup.floatOffset = stage.floatOffset;
    // The adaptation always lets the taps adapt, whatever mode the receiver runs in, from the
    // first clock edge: its pattern is too short for the lock detector's windows.
    setup.adaptive = true;
    setup.learnWhenLocked = false;
    setup.active = true;
    setup.cdrBandwidth = context_.cdrBandwidth;
    setup.cdrSel = context_.cdrSel;
    setup.clockOffset = context_.clockOffset;
    return setup;
}

std::unique_ptr<CandidateDfe> AdaptationDfe::NewLane() const {
    return std::make_unique<AdaptationDfe>(sweepStage_, context_);
}

bool AdaptationDfe::Equalise(std::span<double> samples) {
    if (samples.empty() || dfe_.Setup(sweep_) != 0 || !dfe_.IsActive()) return false;
    dfe_.Process(samples.data(), static_cast<std::int64_t>(samples.size()), 0.0);
    return true;
}

DfeStageResult AdaptationDfe::Train(std::span<double> equalised, const DfeStageSetup& setup) {
    DfeStageResult result;
    if (dfe_.Setup(SetupFor(setup)) != 0 || !dfe_.IsActive()) return result;
    result.setUp = true;
    if (!equalised.empty()) {
        dfe_.Process(equalised.data(), static_cast<std::int64_t>(equalised.size()), 0.0);
    }
    dfe_.CurrentTaps(result.tapWeights, result.tapCodes);
    result.dataLevel = dfe_.DataLevel();
    return result;
}

}  // namespace v10kx_ami_rx
