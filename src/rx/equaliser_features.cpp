// The place where the CTLE/VGA auto-adaptation joins the receiver construction. It is not part
// of this build: a request for it is reported once and the model goes on as if it had not been
// made.
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

}  // namespace v10kx_ami_rx
