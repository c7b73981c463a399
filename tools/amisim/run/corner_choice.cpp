#include "amisim/run/corner_choice.hpp"

#include <stdexcept>
#include <string>

#include "amisim/run/analog_link.hpp"

namespace amisim {

namespace {

std::string settingText(const std::string& setting) {
    const auto c = ibisCornerOfSetting(setting);
    return "corner " + setting + " means " +
           (c ? "the " + ibisCornerName(*c) + " ends" : "no corner of the ends");
}

}  // namespace

void settleCorner(LinkConfig& cfg, const std::vector<SweepAxis>& axes) {
    if (!cfg.corner) return;
    const std::string corner = ibisCornerName(*cfg.corner);
    const std::string setting = cornerSettingOf(*cfg.corner);
    auto settle = [&](const std::string& role, const std::string& amiFile,
                      std::vector<ParamOverride>& overrides) {
        for (const SweepAxis& a : axes)
            if (a.model == role && a.parameter == "corner")
                throw std::invalid_argument(
                    "--sweep " + a.name() + ": --corner " + corner +
                    " holds the corner of the ends and the models; leave --corner out to sweep "
                    "the corner (the ends then follow the models')");
        bool given = false;
        for (const ParamOverride& o : overrides) {
            if (o.name != "corner") continue;
            given = true;
            if (o.value != setting)
                throw std::invalid_argument("--corner " + corner + " and --" + role +
                                            " corner=" + o.value + " differ: --corner " + corner +
                                            " means corner " + setting + " for the models, and " +
                                            settingText(o.value) +
                                            "; give one of them, or both alike");
        }
        const AmiModelFile model = loadModelFile(amiFile);
        const AmiParameter* p = model.find(std::vector<std::string>{"corner"});
        if (!given && p && p->isInput()) overrides.push_back(ParamOverride{"corner", setting});
    };
    settle("tx", cfg.files.txAmi, cfg.txOverrides);
    settle("rx", cfg.files.rxAmi, cfg.rxOverrides);
}

}  // namespace amisim
