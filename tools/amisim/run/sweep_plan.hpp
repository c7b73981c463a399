#pragma once
// A sweep written as a plan: a folder any job engine can work through, one job per point.
//   DIR/plan.json           the manifest: grid, command line, kit and library paths, version
//   DIR/points/K/point.json point K's result, written once the point is done (its warnings and
//                           failure reason inside)
//   DIR/points/K/status     point K's exit status as text: 0 computed, 1 failed
// A point is done when its point.json exists; a plan run again skips done points.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "amisim/run/sweep_point.hpp"

namespace amisim {

struct SweepPlan {
    std::string version;                   // of the amisim that wrote it
    std::string workingDirectory;          // where the command line's relative paths start
    std::vector<std::string> commandLine;  // the sweep's options, without the plan's own
    std::vector<SweepAxis> axes;
    std::size_t points = 0;
    std::string outDir;  // absolute
    KitFiles files;      // absolute, for the record
    std::string kitDir;
};

inline constexpr const char* kPlanFile = "plan.json";
inline constexpr const char* kPointFile = "point.json";
inline constexpr const char* kPointStatusFile = "status";

// Writes DIR/plan.json, creating DIR. A DIR that already holds a plan must hold this very plan
// (then the call only checks it): resuming never mixes two sweeps. Throws std::runtime_error.
void writePlan(const std::string& dir, const SweepPlan& plan);

// Reads DIR/plan.json; throws std::runtime_error naming what is wrong.
SweepPlan readPlan(const std::string& dir);

// The point folder DIR/points/K.
std::string pointFolder(const std::string& dir, std::size_t k);

bool pointDone(const std::string& dir, std::size_t k);

// Writes point K's result and status through temporary files, so that a job killed midway
// leaves the point not done.
void savePoint(const std::string& dir, std::size_t k, const SweepPoint& p,
               const std::vector<SweepAxis>& axes);

// Point K's result; nothing when it is not done. A result that cannot be read comes back as a
// failed point naming the reason.
std::optional<SweepPoint> loadPoint(const std::string& dir, std::size_t k,
                                    const std::vector<SweepAxis>& axes,
                                    const std::vector<std::string>& values);

}  // namespace amisim
