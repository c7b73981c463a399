#pragma once
// Parameter sweeps: the statistical mode over a grid of model settings, each point run in a
// worker process of its own (several at once with --jobs), so that a model that fails or
// crashes on one setting costs only that point.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "amisim/ami_file.hpp"
#include "amisim/link_sim.hpp"

namespace amisim {

struct SweepAxis {
    std::string model;      // "tx" or "rx"
    std::string parameter;  // dotted parameter name
    std::vector<std::string> values;
    std::string name() const { return model + "." + parameter; }
};

// Parses "NAME=A:B[:STEP]" (STEP 1 when left out) or "NAME=V1,V2,...". NAME is "tx.PARAM",
// "rx.PARAM" or a PARAM that only one model declares as an input. Throws std::invalid_argument
// with a clear message.
SweepAxis parseSweep(const std::string& text, const AmiModelFile& tx, const AmiModelFile& rx);

// Every combination of the axes' values; the first axis changes slowest.
std::vector<std::vector<std::string>> sweepGrid(const std::vector<SweepAxis>& axes);

struct SweepPoint {
    std::vector<std::string> values;  // one per axis
    bool ok = false;
    std::string error;
    double eyeHeight = 0, eyeWidth = 0, rawEyeHeight = 0;  // volts, UI, volts
    std::size_t modelWarnings = 0;
};

struct SweepResult {
    std::vector<SweepAxis> axes;
    std::vector<SweepPoint> points;   // in grid order
    std::optional<std::size_t> best;  // the largest eye height (then width) among the good points
    double seconds = 0;
    int jobs = 1;
};

constexpr std::size_t kMaxSweepPoints = 10000;

// The base settings with the point's values as overrides (after the base's own).
LinkConfig withPointValues(const LinkConfig& base, const std::vector<SweepAxis>& axes,
                           const std::vector<std::string>& values);

// withPointValues, statistical mode only, quietly: what a sweep point runs.
LinkConfig configForPoint(const LinkConfig& base, const std::vector<SweepAxis>& axes,
                          const std::vector<std::string>& values);

// Runs every point, `jobs` at a time (1 .. 64). The channel is built once.
SweepResult runSweep(const LinkConfig& base, const std::vector<SweepAxis>& axes, int jobs);

}  // namespace amisim
