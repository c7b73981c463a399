#include "amisim/run/adapted_settings.hpp"

#include <map>
#include <string>

#include "amisim/host/kit_files.hpp"

namespace amisim {

std::optional<std::vector<ParamOverride>> adaptedGainOverrides(const LinkResult& res) {
    if (!res.adaptedGains) return std::nullopt;
    const std::map<std::string, double> in = numericOutputs(res.rx.parametersIn);
    if (!in.count("ctle_mode")) return std::nullopt;
    std::vector<ParamOverride> pins;
    auto pin = [&](const std::string& name, int value) {
        if (in.count(name)) pins.push_back(ParamOverride{name, std::to_string(value)});
    };
    pin("ctle_mode", 0);
    // the AC (and DC) gain the adaptation reports belong to the CTLE the receiver runs
    const auto highGain = in.find("ctle_hg_sel");
    if (highGain != in.end() && highGain->second != 0) {
        pin("eqz_s4_ac_gain", res.adaptedGains->ac);
        pin("eqz_s4_dc_gain", res.adaptedGains->dc);
    } else {
        pin("eqz_s1_ac_gain", res.adaptedGains->ac);
    }
    pin("vga_gain", res.adaptedGains->vga);
    return pins;
}

}  // namespace amisim
