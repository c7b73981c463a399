#pragma once
// A hexagonal eye mask checked against an eye's opening: the mask is centred in the eye at the
// sampling point, HEIGHT tall over the middle half of its width and narrowing linearly to points at
// +-WIDTH/2 on the threshold.
#include <optional>
#include <string>
#include <vector>

namespace amisim {

struct EyeMask {
    double heightV = 0;
    double widthUi = 0;
};

// "HEIGHT_MV,WIDTH_UI", for example "40,0.3"; throws std::invalid_argument with a clear message.
EyeMask parseEyeMask(const std::string& text);

// Half the mask's height at `offsetUi` from its centre (0 beyond its tips).
double maskHalfHeight(const EyeMask& mask, double offsetUi);

struct MaskCheck {
    bool pass = false;
    double marginV = 0;       // smallest distance from the mask to the eye's inner boundary
    double worstPhaseUi = 0;  // where it is smallest, from the sampling point
};

// `phaseUi` ascending; `halfOpening` per phase: the inner boundary of the "1" level above the
// threshold (volts; the "0" level mirrors it). `centreUi` is the sampling point. Empty when
// the phases do not cover the mask.
std::optional<MaskCheck> checkEyeMask(const EyeMask& mask, const std::vector<double>& phaseUi,
                                      const std::vector<double>& halfOpening, double centreUi);

// The middle of the span of phases around `samplingUi` where `half` stays above 0; the
// sampling point itself when the eye is closed there.
double openSpanCentre(const std::vector<double>& phaseUi, const std::vector<double>& half,
                      double samplingUi);

}  // namespace amisim
