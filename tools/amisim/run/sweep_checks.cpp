#include "amisim/run/sweep_checks.hpp"

#include <cstdlib>
#include <stdexcept>

#include "amisim/run/sweep.hpp"

namespace amisim {

namespace {

// The receiver's gains its adaptation replaces (while ctle_mode is not 0) and those the QPI
// path fixes (while QPI_sel is 1). The DC gain is not among them: it bounds the adaptation's
// candidates, so sweeping it still changes the result.
const char* const kAdaptedGains[] = {"eqz_s1_ac_gain", "eqz_s4_ac_gain", "vga_gain"};

bool isAdaptedGain(const std::string& name) {
    for (const char* g : kAdaptedGains)
        if (name == g) return true;
    return false;
}

// The receiver's setting `name` at a grid point: the point's value, else the last override,
// else the .ami default.
std::string settingAt(const std::string& name, const std::vector<SweepAxis>& axes,
                      const std::vector<std::string>& values, const LinkConfig& base,
                      const AmiModelFile& rx) {
    for (std::size_t a = axes.size(); a-- > 0;)
        if (axes[a].model == "rx" && axes[a].parameter == name) return values[a];
    for (std::size_t i = base.rxOverrides.size(); i-- > 0;)
        if (base.rxOverrides[i].name == name) return base.rxOverrides[i].value;
    const AmiParameter* p = rx.find({name});
    return p && p->defaultValue ? *p->defaultValue : "0";
}

bool nonZero(const std::string& v) {
    char* end = nullptr;
    const long n = std::strtol(v.c_str(), &end, 10);
    return end != v.c_str() && n != 0;
}

}  // namespace

std::vector<std::string> checkOverriddenAxes(const std::vector<SweepAxis>& axes,
                                             const LinkConfig& base, const AmiModelFile& rx) {
    std::vector<std::string> warnings;
    if (!rx.find({"ctle_mode"})) return warnings;  // a receiver without this adaptation
    const auto grid = sweepGrid(axes);
    for (std::size_t a = 0; a < axes.size(); ++a) {
        if (axes[a].model != "rx" || !isAdaptedGain(axes[a].parameter)) continue;
        std::size_t adapted = 0, qpi = 0;
        for (const auto& values : grid) {
            const bool q = settingAt("QPI_sel", axes, values, base, rx) == "1";
            if (q)
                ++qpi;
            else if (nonZero(settingAt("ctle_mode", axes, values, base, rx)))
                ++adapted;
        }
        const std::string name = axes[a].name();
        if (adapted + qpi == grid.size()) {
            if (qpi == grid.size())
                throw std::invalid_argument(
                    "--sweep " + name +
                    ": with QPI_sel 1 the receiver fixes this gain, so every point would give "
                    "the same eye; sweep it with --rx QPI_sel=0");
            throw std::invalid_argument(
                "--sweep " + name +
                ": the receiver's adaptation chooses this gain while ctle_mode is not 0, so "
                "every point would give the same eye; add --rx ctle_mode=0 to sweep it by "
                "hand");
        }
        if (adapted > 0)
            warnings.push_back("--sweep " + name + ": at " + std::to_string(adapted) + " of " +
                               std::to_string(grid.size()) +
                               " points ctle_mode is not 0 and the receiver's adaptation "
                               "chooses this gain itself");
        if (qpi > 0)
            warnings.push_back("--sweep " + name + ": at " + std::to_string(qpi) + " of " +
                               std::to_string(grid.size()) +
                               " points QPI_sel is 1 and the receiver fixes this gain");
    }
    return warnings;
}

}  // namespace amisim
