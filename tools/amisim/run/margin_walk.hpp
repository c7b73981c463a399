#pragma once
// Where the margin goes between the statistical and the time-domain eye: each step a variant
// of the link, run and measured, that adds one thing the statistical eye leaves out.
#include <optional>
#include <string>
#include <vector>

namespace amisim {

struct MarginStep {
    std::string key;          // short name for reports: "stat_no_jitter_best_phase", ...
    std::string name;         // what the step adds, a few words
    std::string description;  // how it was measured
    std::string mode;         // "statistical" or "time domain"
    double eyeHeight = 0;     // volts
    double phaseUi = 0;       // sampling phase from the main cursor, UI
    bool measured = false;    // false: the step could not be run (see note)
    std::string note;
};

struct MarginWalk {
    std::vector<MarginStep> steps;
    std::vector<std::string> notes;  // what differs from the main run besides the step
};

struct LinkConfig;
struct LinkResult;

// Runs the variants of the link `cfg` whose result is `res` (both modes run): the statistical
// eye without jitter at the best phase and at the clock recovery's mean sampling phase, the
// time domain with the DFE fixed at its final taps and the clock recovery's instants replaced
// by that mean phase (the receiver's amplitude curves act), then with the models' jitter, and
// the time-domain eye as measured. Throws what runLink throws.
MarginWalk walkMargin(const LinkConfig& cfg, const LinkResult& res);

// The receiver's parameter value `dotted` (for example "dfe.mode") in the parameter string the
// run gave it, when it is a number.
std::optional<double> rxSetting(const LinkResult& res, const std::string& dotted);

}  // namespace amisim
