#pragma once
// Parameter sweeps: the statistical mode over a grid of model settings, each point run in a
// worker process of its own (several at once with --jobs), so that a model that fails or
// crashes on one setting costs only that point.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "amisim/host/ami_file.hpp"
#include "amisim/run/link_sim.hpp"
#include "amisim/run/sweep_point.hpp"

namespace amisim {

// Parses "NAME=A:B[:STEP]" (STEP 1 when left out) or "NAME=V1,V2,...". NAME is "tx.PARAM",
// "rx.PARAM" or a PARAM that only one model declares as an input. Throws std::invalid_argument
// with a clear message.
// The pieces of s between the separators (one empty piece for an empty s).
std::vector<std::string> splitOn(const std::string& s, char sep);

SweepAxis parseSweep(const std::string& text, const AmiModelFile& tx, const AmiModelFile& rx);

// Every combination of the axes' values; the first axis changes slowest.
std::vector<std::vector<std::string>> sweepGrid(const std::vector<SweepAxis>& axes);

// What ranks the points: the receiver's adaptation ranks by height times width ("area").
enum class SweepObjective { Area, Height, Width };
SweepObjective parseObjective(const std::string& text);  // throws std::invalid_argument
const char* objectiveName(SweepObjective o);

struct SweepResult {
    std::vector<SweepAxis> axes;
    std::vector<SweepPoint> points;   // in grid order
    std::optional<std::size_t> best;  // see rankSweep
    SweepObjective objective = SweepObjective::Area;
    std::vector<std::string> warnings;  // failed, missing and warned points, overridden axes
    double seconds = 0;
    int jobs = 1;
};

constexpr std::size_t kMaxSweepPoints = 10000;

// Rejects a sweep value that cannot be the parameter's value (a word for an integer).
void checkSweepValues(const SweepAxis& axis, const AmiModelFile& model);

// Refuses two axes naming the same parameter of the same model.
void checkDistinctAxes(const std::vector<SweepAxis>& axes);

// Runs the given points (values per axis), `jobs` at a time (1 .. 64), each in a process of
// its own; `onPoint` sees every point as it finishes with its position in `points`.
void runPointValues(const LinkConfig& base, const std::vector<SweepAxis>& axes,
                    const PreparedChannel& channel,
                    const std::vector<std::vector<std::string>>& points, int jobs,
                    bool showProgress,
                    const std::function<void(std::size_t, const SweepPoint&)>& onPoint);

// Runs the points `indices` of the grid, `jobs` at a time (1 .. 64), each in a process of its
// own; `onPoint` sees every point as it finishes (in finishing order).
void runSweepPoints(const LinkConfig& base, const std::vector<SweepAxis>& axes,
                    const PreparedChannel& channel, const std::vector<std::size_t>& indices,
                    int jobs, const std::function<void(std::size_t, const SweepPoint&)>& onPoint);

// Runs every point, `jobs` at a time (1 .. 64), and ranks them. The channel is built once.
SweepResult runSweep(const LinkConfig& base, const std::vector<SweepAxis>& axes, int jobs,
                     SweepObjective objective = SweepObjective::Area);

// The channel a sweep's points share: the base settings' channel in statistical mode.
PreparedChannel prepareSweepChannel(const LinkConfig& base);

// Picks the best point by the objective among the points that ran without a failure, a
// warning or invalid parameters; equal scores go to the point nearest the middle of the grid.
// Also lists the sweep's warnings (failed, missing and warned points).
void rankSweep(SweepResult& sweep);

// A point that may be called best: it ran to an eye without a failure, a warning or invalid
// parameters.
bool sweepPointEligible(const SweepPoint& p);

// The point's score by the objective (height in volts, width in UI, area in V*UI).
double sweepScore(const SweepPoint& p, SweepObjective objective);

}  // namespace amisim
