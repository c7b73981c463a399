#include "amisim/run/ends_eye_cost.hpp"

#include <exception>
#include <string>

#include "amisim/host/model_messages.hpp"
#include "amisim/run/adapted_settings.hpp"

namespace amisim {

namespace {

void measure(const LinkConfig& cfg, LinkResult& res) {
    EndsInfo& ends = res.channel.ends;
    LinkConfig at = statFiguresOnly(cfg);
    const std::optional<std::vector<ParamOverride>> pins = adaptedGainOverrides(res);
    double withEnds = res.stat->eyeHeight;
    if (pins) {
        at.rxOverrides.insert(at.rxOverrides.end(), pins->begin(), pins->end());
        ends.eyeCostSettings = "at the adapted settings (AC gain " +
                               std::to_string(res.adaptedGains->ac) + ", DC gain " +
                               std::to_string(res.adaptedGains->dc) + ", VGA gain " +
                               std::to_string(res.adaptedGains->vga);
        // A receiver writes the DFE taps its adaptation chose into the impulse it returns, and
        // held at its gains it adapts nothing: both eyes are then taken without those taps.
        if (!dfeTapReport(res.rx.parametersOut).empty()) {
            const LinkResult held = runLink(at);
            if (!held.stat) return;
            withEnds = held.stat->eyeHeight;
            ends.eyeCostSettings += "; both eyes without the DFE taps it adapted";
        }
        ends.eyeCostSettings += ")";
    } else {
        ends.eyeCostSettings = "at the same settings";
    }
    LinkConfig ideal = at;
    ideal.idealEnds = true;
    const LinkResult r = runLink(ideal);
    if (r.stat) ends.eyeHeightCostV = r.stat->eyeHeight - withEnds;
}

}  // namespace

void measureEndsEyeCost(const LinkConfig& cfg, LinkResult& res) {
    if (!res.channel.ends.analog || !res.stat) return;
    // a figure beside the run: when it cannot be had, the run stands and says why
    try {
        measure(cfg, res);
    } catch (const std::exception& e) {
        res.channel.ends.eyeHeightCostV.reset();
        res.channel.ends.eyeCostSettings.clear();
        res.warnings.push_back(std::string("the eye height the analog ends cost could not be "
                                           "measured: ") +
                               e.what());
    }
}

}  // namespace amisim
