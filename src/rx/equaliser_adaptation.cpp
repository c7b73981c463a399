// The CTLE/VGA auto-adaptation step of the receiver construction: the receiver's settings and
// impulse response in, the adaptation run on the response database, the receiver's own chain
// and DFE, and the chosen gains (and, with the DFE on, its adapted taps) back into the settings.
#include "engine/adaptation/adaptation.hpp"
#include "engine/adaptation/candidate_lanes.hpp"
#include "rx/adaptation_candidates.hpp"
#include "rx/adaptation_dfe.hpp"
#include "rx/candidate_chain.hpp"
#include "rx/dfe_parameters.hpp"
#include "rx/rx_format.hpp"
#include "rx/rx_process_state.hpp"
#include "rx/user_model.hpp"

namespace v10kx_ami_rx {
std::string UserModel::QuietParamText(const std::vector<std::string>& names) const {
    std::string value;
    if (!paramTree) return value;
    std::vector<std::string> path{paramTree->rootName};
    path.insert(path.end(), names.begin(), names.end());
    return paramTree->GetLeaf(path, value) == 0 ? value : std::string();
}

void UserModel::AutoAdaptEqualiser(RxSettings& settings, const RxLabels& labels, double bitRate,
                                   const double* impulse) {
    WriteDebug("Entering CTLE auto-adapt block.");

    // The DFE settings as the DFE set-up will read them, bounded without a word: the set-up
    // reports them itself.
    std::string unreported;
    const DfeParameters dfe =
        ReadDfeParameters([this](const auto& names) { return QuietParamText(names); }, unreported);

    AdaptRequest request;
    if (impulse != nullptr) request.impulse.assign(impulse, impulse + rowSize);
    request.dfeTapWeights = AdaptationStartTaps(dfe.codes, settings.vgaBwSel);
    request.tapCount = dfe.tapCount;
    request.floatOffset = dfe.floatOffset;
    request.dfeMode = ScanInt(QuietParamText({"dfe", "mode"}), 0);
    request.supplyLabel = labels.supply;
    request.cornerLabel = labels.corner;
    request.vgaBandwidthLabel = labels.vgaBandwidth;
    request.ctleModeLabel = labels.ctleMode;
    request.dcGainIndex = std::to_string(settings.eqzS4DcGain);
    request.databaseDirectory = dataDir;
    request.bitRate = bitRate;
    request.samplesPerBit = bitTime / sampleInterval;

    const AdaptationSetup setup = MakeAdaptationSetup(request);
    DatabaseCandidates candidates(setup, DatabaseFiles(labels), bitRate, settings.HighGainCtle());
    AdaptationDfeContext context;
    const DfeMapLoad map = LoadDfeMap(dataDir, setup.vgaBandwidth);
    if (map.ok) context.limits = map.limits;
    context.cdrBandwidth = settings.cdrBandwidth;
    context.cdrSel = settings.cdrSel;
    context.clockOffset = TheReceiverProcessState().dfeConstant;
    AdaptationDfe dfeRunner(setup.dfe, context);
    const ThreadSetting threads = ModelThreadSetting();
    msgLog += threads.warning;
    PeriodicCandidateChain chain(candidates, setup.grid.SampleInterval(), &dfeRunner,
                                 threads.threads);
    chain.PlanFor(kSweepBits * static_cast<std::size_t>(setup.grid.samplesPerBit));

    const AdaptResult result = Adapt(request, {candidates, chain, dfeRunner});
    for (const std::string& line : result.messages) msgLog += line;
    if (!result.adapted) return;

    settings.eqzS4AcGain = result.acGain;
    settings.eqzS4DcGain = result.dcGain;
    settings.vgaGain = result.vgaGain;
    settings.adapted = true;
    if (result.dfeStageRan && result.dfe.setUp) {
        adaptedTapWeights_ = result.dfe.tapWeights;
        adaptedTapCodes_ = result.dfe.tapCodes;
        adaptedDataLevel_ = result.dfe.dataLevel;
    }
    const std::string line = Format("After adaptaion: AC Gain: %d, DC Gain: %d, VGA Gain: %d",
                                    result.acGain, result.dcGain, result.vgaGain);
    WriteDebug(line);
    msgLog += line + "\n";
}

}  // namespace v10kx_ami_rx
