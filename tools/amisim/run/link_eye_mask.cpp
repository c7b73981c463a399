#include "amisim/run/link_eye_mask.hpp"

namespace amisim {

void checkLinkEyeMask(const EyeMask& mask, LinkResult& res) {
    res.mask = mask;
    // A flat-topped eye has its largest opening anywhere along the top: the mask goes to the
    // middle of the open span around the sampling point, as a scope centres it.
    if (res.stat) {
        std::vector<double> half(res.stat->opening.size());
        for (std::size_t i = 0; i < half.size(); ++i)
            half[i] = res.stat->opening[i] / 2 - res.sensitivity;
        res.statMask = checkEyeMask(mask, res.stat->phaseUi, half,
                                    openSpanCentre(res.stat->phaseUi, half, res.stat->bestPhaseUi));
    }
    if (res.td) {
        std::vector<double> half(res.td->openingByPhase.size());
        for (std::size_t i = 0; i < half.size(); ++i)
            half[i] = res.td->openingByPhase[i] / 2 - res.sensitivity;
        res.tdMask =
            checkEyeMask(mask, res.td->phaseUi, half, openSpanCentre(res.td->phaseUi, half, 0.0));
    }
}

}  // namespace amisim
