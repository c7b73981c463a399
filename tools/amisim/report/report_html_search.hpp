#pragma once
// The parts of report.html about searching settings: the sweep's table and the optimiser's
// path, each point with the gains and DFE taps the receiver's adaptation chose there.
#include <nlohmann/json.hpp>
#include <string>

namespace amisim {

// The "Sweep" section, from the report's "sweep" object (empty without one).
std::string htmlSweepSection(const nlohmann::json& report);

// The "Optimiser" section, from the report's "optimize" object (empty without one).
std::string htmlOptimizeSection(const nlohmann::json& report);

// "name=value ..." of a point's values, in axis order.
std::string htmlPointValues(const nlohmann::json& axes, const nlohmann::json& point);

}  // namespace amisim
