// Texts shared by the summary, the report and the pictures.
#include <cmath>
#include <sstream>

#include "amisim/channel/port_detection.hpp"
#include "amisim/report/report.hpp"

namespace amisim {

namespace {
std::string overridesText(const char* model, const std::vector<ParamOverride>& o) {
    if (o.empty()) return "";
    std::string s = std::string(model);
    for (const ParamOverride& p : o) s += " " + p.name + "=" + p.value;
    return s;
}
}  // namespace

std::string linkSubtitle(const LinkConfig& cfg, const LinkResult& res) {
    std::ostringstream os;
    os.precision(6);
    os << res.channel.description << " | " << cfg.bitRate / 1e9 << " Gb/s";
    const std::string tx = overridesText("tx", cfg.txOverrides);
    const std::string rx = overridesText("rx", cfg.rxOverrides);
    if (tx.empty() && rx.empty()) os << " | model defaults";
    if (!tx.empty()) os << " | " << tx;
    if (!rx.empty()) os << " | " << rx;
    if (res.adaptedGains)
        os << " | adapted AC " << res.adaptedGains->ac << " DC " << res.adaptedGains->dc << " VGA "
           << res.adaptedGains->vga;
    return os.str();
}

std::string statisticalIncludes(const LinkResult& res) {
    std::string s =
        "the channel impulse through both models' AMI_Init (linear: amplitude curves, DFE "
        "adaptation and clock recovery do not act on it); the models' jitter on the sampling "
        "phase (Tx_Rj and Rx_Rj as Gaussians, Tx_Dj and Tx_DCD + Rx_DCD as dual Diracs)";
    // The receiver writes its DFE into the impulse when its taps are fixed, and when its CTLE
    // adaptation ran and handed adapted taps over; an adaptive DFE alone learns only in the
    // waveform.
    const std::optional<double> dfe = rxSetting(res, "dfe.mode");
    if (dfe) {
        const std::optional<double> adapt = rxSetting(res, "ctle_mode");
        if (*dfe == 0)
            s += "; no DFE (it is off)";
        else if (*dfe == 1)
            s += "; the DFE at its fixed taps, in the impulse";
        else if (adapt && *adapt == 1)
            s += "; the DFE at the taps the receiver's adaptation handed over, in the impulse";
        else
            s += "; no DFE: the adaptive DFE learns only in the time domain";
    }
    if (res.sensitivity > 0) s += "; twice Rx_Receiver_Sensitivity off the height";
    return s;
}

std::string timeDomainIncludes(const LinkResult& res) {
    std::string s =
        "the PRBS through both models' AMI_GetWave (amplitude curves, DFE and clock recovery "
        "act as the models implement them)";
    const bool jitter = res.tdTxJitter.any() || res.tdRxJitter.rjRms > 0 || res.tdRxJitter.dcd > 0;
    if (jitter)
        s += "; Tx_Rj, Tx_Dj and Tx_DCD on the transmitter's input edges, Rx_Rj and Rx_DCD on "
             "the sampling instants";
    else
        s += "; no jitter";
    if (res.sensitivity > 0) s += "; twice Rx_Receiver_Sensitivity off the height";
    return s;
}

}  // namespace amisim
