#include "amisim/eye/eye_mask.hpp"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>

namespace amisim {

EyeMask parseEyeMask(const std::string& text) {
    const std::size_t comma = text.find(',');
    auto value = [&](const std::string& t) {
        char* end = nullptr;
        const double v = std::strtod(t.c_str(), &end);
        if (t.empty() || end != t.c_str() + t.size() || !std::isfinite(v))
            throw std::invalid_argument("--mask: '" + text +
                                        "' is not HEIGHT_MV,WIDTH_UI (for example 40,0.3)");
        return v;
    };
    if (comma == std::string::npos)
        throw std::invalid_argument("--mask: '" + text +
                                    "' is not HEIGHT_MV,WIDTH_UI (for example 40,0.3)");
    EyeMask m{value(text.substr(0, comma)) * 1e-3, value(text.substr(comma + 1))};
    if (!(m.heightV > 0) || m.heightV > 10)
        throw std::invalid_argument("--mask: the height must lie above 0 and at most 10000 mV");
    if (!(m.widthUi > 0) || m.widthUi > 1)
        throw std::invalid_argument("--mask: the width must lie above 0 and at most 1 UI");
    return m;
}

double maskHalfHeight(const EyeMask& mask, double offsetUi) {
    const double x = std::abs(offsetUi), half = mask.widthUi / 2, flat = mask.widthUi / 4;
    if (x >= half) return 0.0;
    if (x <= flat) return mask.heightV / 2;
    return mask.heightV / 2 * (half - x) / (half - flat);
}

std::optional<MaskCheck> checkEyeMask(const EyeMask& mask, const std::vector<double>& phaseUi,
                                      const std::vector<double>& halfOpening, double centreUi) {
    if (phaseUi.size() != halfOpening.size() || phaseUi.empty()) return std::nullopt;
    const double half = mask.widthUi / 2;
    if (phaseUi.front() > centreUi - half || phaseUi.back() < centreUi + half) return std::nullopt;
    MaskCheck c;
    c.marginV = std::numeric_limits<double>::infinity();
    bool any = false;
    for (std::size_t i = 0; i < phaseUi.size(); ++i) {
        const double x = phaseUi[i] - centreUi;
        if (std::abs(x) > half) continue;
        const double margin = halfOpening[i] - maskHalfHeight(mask, x);
        any = true;
        if (margin < c.marginV) {
            c.marginV = margin;
            c.worstPhaseUi = x;
        }
    }
    if (!any) return std::nullopt;
    c.pass = c.marginV >= 0;
    return c;
}

double openSpanCentre(const std::vector<double>& phaseUi, const std::vector<double>& half,
                      double samplingUi) {
    if (phaseUi.empty() || phaseUi.size() != half.size()) return samplingUi;
    std::size_t at = 0;
    for (std::size_t i = 1; i < phaseUi.size(); ++i)
        if (std::abs(phaseUi[i] - samplingUi) < std::abs(phaseUi[at] - samplingUi)) at = i;
    if (!(half[at] > 0)) return samplingUi;
    std::size_t a = at, b = at;
    while (a > 0 && half[a - 1] > 0) --a;
    while (b + 1 < half.size() && half[b + 1] > 0) ++b;
    return 0.5 * (phaseUi[a] + phaseUi[b]);
}

}  // namespace amisim
