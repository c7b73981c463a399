#pragma once
// One point of a parameter sweep: what it holds, how it is written and read back (the same
// record in a worker's pipe, a plan's point folder and report.json), and how it is computed in
// a process of its own so that a model that crashes on one setting costs only that point.
#include <sys/types.h>

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "amisim/run/link_sim.hpp"

namespace amisim {

struct SweepAxis {
    std::string model;      // "tx" or "rx"
    std::string parameter;  // dotted parameter name
    std::vector<std::string> values;
    std::string unit;  // what a value means, for axis labels ("setting code: 0.5 .. 2")
    std::string name() const { return model + "." + parameter; }
    std::string label() const { return unit.empty() ? name() : name() + " (" + unit + ")"; }
};

struct SweepPoint {
    std::vector<std::string> values;  // one per axis
    bool ran = false;                 // a result exists (false: not run yet, or lost)
    bool ok = false;                  // the point ran to an eye
    std::string error;                // why not, when it did not
    double eyeHeight = 0, eyeWidth = 0, rawEyeHeight = 0;  // volts, UI, volts
    std::size_t modelWarnings = 0;
    // The models' and amisim's warnings at this point, the channel's own left out (they are
    // the same at every point and the full run reports them).
    std::vector<std::string> warnings;
    std::optional<bool> paramsValid;  // false when either model said Params_Valid False
    std::optional<AdaptedGains> adapted;
    std::vector<DfeTap> dfeTaps;  // as the receiver reported them after AMI_Init
    // The analog ends of the point's channel: their corner and the transmitter's front-end
    // file (empty: a lumped front end, or ideal ends), which the point's settings may change.
    std::string endsCorner, txFrontEndFile;
    double seconds = 0;  // wall time of the point
};

// The point record. Values are keyed by axis name; decoding takes them back in axis order and
// throws std::runtime_error on a record that is not a point of these axes.
nlohmann::json sweepPointToJson(const SweepPoint& p, const std::vector<SweepAxis>& axes);
SweepPoint sweepPointFromJson(const nlohmann::json& j, const std::vector<SweepAxis>& axes);

// The base settings with the point's values as overrides (after the base's own).
LinkConfig withPointValues(const LinkConfig& base, const std::vector<SweepAxis>& axes,
                           const std::vector<std::string>& values);

// withPointValues, statistical mode only, quietly: what a sweep point runs.
LinkConfig configForPoint(const LinkConfig& base, const std::vector<SweepAxis>& axes,
                          const std::vector<std::string>& values);

// Computes the point in this process; a failure becomes the point's error.
SweepPoint computeSweepPoint(const LinkConfig& base, const std::vector<SweepAxis>& axes,
                             const std::vector<std::string>& values,
                             const PreparedChannel& channel);

// A point computing in a child process; `fd` delivers its record.
struct PointProcess {
    pid_t pid = -1;
    int fd = -1;
    std::vector<std::string> values;
    std::string received;
};

// Starts the point in a child process. Throws std::runtime_error when no process can be made.
PointProcess startSweepPoint(const LinkConfig& base, const std::vector<SweepAxis>& axes,
                             const std::vector<std::string>& values,
                             const PreparedChannel& channel);

// Reads what is ready on the child's pipe; true once the pipe is closed.
bool readSweepPoint(PointProcess& proc);

// After readSweepPoint returned true: reaps the child and decodes its record, or describes how
// it died.
SweepPoint finishSweepPoint(PointProcess& proc, const std::vector<SweepAxis>& axes);

// startSweepPoint, then reads to the end and finishes: one point, isolated.
SweepPoint runSweepPointIsolated(const LinkConfig& base, const std::vector<SweepAxis>& axes,
                                 const std::vector<std::string>& values,
                                 const PreparedChannel& channel);

}  // namespace amisim
