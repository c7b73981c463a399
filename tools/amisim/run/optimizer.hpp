#pragma once
// The transmitter-tap optimiser: a coordinate search over integer settings for the best
// statistical figure of merit with the receiver adapting, evaluating far fewer points than the
// full grid. Its points run through the sweep's point runner, in processes of their own.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "amisim/host/ami_file.hpp"
#include "amisim/run/sweep.hpp"

namespace amisim {

// Parses --optimize's "tx.tap1,tx.ptap1,..." and the --optimize-range limits "NAME=A:B" into
// axes holding each setting's codes in order (from the .ami file's Range or List). Refuses,
// with std::invalid_argument, a name neither model declares, a receiver parameter, a
// parameter that is not an integer with a range, a setting named twice and a limit outside
// the setting's range.
std::vector<SweepAxis> parseOptimizeAxes(const std::string& names,
                                         const std::vector<std::string>& ranges,
                                         const AmiModelFile& tx, const AmiModelFile& rx);

// Where the search starts on each axis: the base settings' override, else the .ami default,
// else the lowest code; a start outside the axis is moved to its nearest code.
std::vector<std::size_t> optimizeStart(const std::vector<SweepAxis>& axes, const LinkConfig& base,
                                       const AmiModelFile& tx);

// The search over code indices, apart from what a point costs. A point may be chosen only when
// eligible; equal scores (within 1e-9 relative) go to the point nearest the grid's middle.
struct SearchScore {
    bool eligible = false;
    double score = 0;
};
// Scores a batch of points (code indices); `round` is 0 for the start, then 1, 2, ...
using BatchEvaluator = std::function<std::vector<SearchScore>(
    const std::vector<std::vector<std::size_t>>& points, int round)>;

struct SearchOutcome {
    std::optional<std::vector<std::size_t>> best;     // none when no point was eligible
    std::vector<std::vector<std::size_t>> positions;  // start, then every move
    std::size_t evaluations = 0;                      // distinct points evaluated
    int rounds = 0;
};

// For each axis in turn, steps +-1 code while a neighbour is better; repeats rounds until a
// round moves nowhere. Each step's new candidates go to `evaluate` as one batch; a point is
// evaluated once.
SearchOutcome coordinateSearch(const std::vector<std::size_t>& sizes,
                               const std::vector<std::size_t>& start,
                               const BatchEvaluator& evaluate);

struct OptimizeEvaluation {
    SweepPoint point;
    double figure = 0;      // by the objective; 0 when not eligible
    bool eligible = false;  // ran to an open eye without a failure, warning or invalid setting
    bool visited = false;   // the search stood here (the start or a move)
    int round = 0;          // 0: the start
};

struct OptimizeResult {
    std::vector<SweepAxis> axes;
    std::vector<std::string> start;
    std::vector<OptimizeEvaluation> path;  // in evaluation order
    std::optional<std::size_t> best;       // into path
    SweepObjective objective = SweepObjective::Area;
    std::uint64_t gridPoints = 0;  // the full grid's size
    int rounds = 0;
    int jobs = 1;
    double seconds = 0;
    std::vector<std::string> warnings;  // points not accepted, and no best
};

// Runs the search from `start` with `jobs` point processes (1 .. 64). The channel is built once.
OptimizeResult runOptimize(const LinkConfig& base, const std::vector<SweepAxis>& axes,
                           const std::vector<std::size_t>& start, int jobs,
                           SweepObjective objective);

}  // namespace amisim
