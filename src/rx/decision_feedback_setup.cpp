// The DFE and clock-recovery set-up of the receiver construction.
#include <cstdio>
#include <memory>

#include "rx/dfe_equaliser.hpp"
#include "rx/dfe_map.hpp"
#include "rx/dfe_parameters.hpp"
#include "rx/dfe_taps.hpp"
#include "rx/rx_format.hpp"
#include "rx/rx_process_state.hpp"
#include "rx/user_model.hpp"

namespace v10kx_ami_rx {
namespace {

constexpr double kHandbookBitRate = 16e9;

void ReportFailedSetup() {
    std::printf("WARNING: DFE failed to initialize properly!\n");
    std::fflush(stdout);
}

}  // namespace

void UserModel::SetUpDecisionFeedback(const RxSettings& settings, const RxLabels& labels) {
    const double bitRate = 1.0 / bitTime;
    DfeSetup setup;
    setup.sampleInterval = sampleInterval;
    setup.bitTime = bitTime;
    setup.cdrBandwidth = settings.cdrBandwidth;
    setup.cdrSel = settings.cdrSel;
    setup.clockOffset = TheReceiverProcessState().dfeConstant;

    if (settings.dfeMode != 0) {
        WriteDebug("Setting up DFE...");
        if (bitRate > kHandbookBitRate) {
            msgLog += "Info: Please check Vanta 10 Transceiver Handbook for DFE usage.\n";
        }
        DfeMapLoad map = LoadDfeMap(dataDir, VgaRequest(settings, labels, bitRate).bandwidth);
        if (!map.ok) {
            msgLog += "WARNING: The DFE map " + map.fileName + " cannot be used: " + map.reason +
                      "; the DFE stays off.\n";
        }
        const DfeParameters p =
            ReadDfeParameters([this](const auto& names) { return GetParamText(names); }, msgLog);
        if (map.ok && map.limits.size() < static_cast<std::size_t>(p.tapCount)) {
            msgLog += Format(
                "WARNING: The DFE map %s describes %u taps, fewer than the %d in use; "
                "the DFE stays off.\n",
                map.fileName.c_str(), map.map.tapCount, p.tapCount);
            map.limits = DfeLimits();
        }

        setup.limits = map.limits;
        setup.codes = p.codes;
        setup.tapCount = p.tapCount;
        setup.floatOffset = p.floatOffset;
        setup.adaptive = settings.dfeMode != 1;
        setup.active = true;
        setup.adaptedWeights = adaptedTapWeights_;
        setup.adaptedCodes = adaptedTapCodes_;
        setup.adaptedDataLevel = adaptedDataLevel_;
        for (std::size_t k = 0; k < p.codes.size() && k < setup.limits.size(); ++k) {
            setup.initialWeights.push_back(DfeCodeToWeight(p.codes[k], setup.limits.upperLimit[k],
                                                           setup.limits.lowerLimit[k],
                                                           setup.limits.codeSpan[k]));
        }
    } else if (settings.cdrSel == 0) {
        WriteDebug("Setting up CDR...");
        setup.codes.assign(kDfeTapCount, 0);
        setup.tapCount = kDfeTapCount;
        setup.adaptive = false;
        setup.active = false;
    } else {
        return;
    }

    auto equaliser = std::make_unique<DecisionFeedbackEqualiser>();
    if (equaliser->Setup(setup) != 0) ReportFailedSetup();
    WriteDebug("Setup complete.");
    dfe = std::move(equaliser);
}

}  // namespace v10kx_ami_rx
