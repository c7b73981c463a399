// The places where the CTLE/VGA auto-adaptation and the DFE with its clock recovery join the
// receiver construction. Neither is part of this build: a request for one is reported once and
// the model goes on as if it had not been made.
#include "rx/rx_format.hpp"
#include "rx/user_model.hpp"

namespace v10kx_ami_rx {

void UserModel::AutoAdaptEqualiser(RxSettings& settings, const RxLabels& /*labels*/,
                                   double /*bitRate*/) {
    msgLog += Format(
        "WARNING: CTLE/VGA auto-adaptation (ctle_mode %d) is not available in this build; "
        "continuing with the configured gains.\n",
        settings.ctleMode);
}

void UserModel::SetUpDecisionFeedback(const RxSettings& settings) {
    if (settings.dfeMode != 0) {
        msgLog += Format(
            "WARNING: The DFE (dfe mode %d) is not available in this build; continuing with "
            "the DFE off.\n",
            settings.dfeMode);
    } else if (settings.cdrSel == 0) {
        WriteDebug("Clock recovery is not available in this build; no clock times are returned.");
    }
}

}  // namespace v10kx_ami_rx
