#pragma once
// The settling check and the margin walk in the run's summary, report.json, report.html and a
// picture.
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "amisim/run/link_sim.hpp"

namespace amisim {

nlohmann::json settlingJson(const SettlingCheck& check, const TdEyeResult& eye);
nlohmann::json marginWalkJson(const MarginWalk& walk);

// The walk as a table on standard output, one step a line.
void printMarginWalk(std::ostream& os, const MarginWalk& walk);

// The walk's section of report.html, from report.json's "margin_walk"; empty without one.
std::string marginWalkHtml(const nlohmann::json& report);

// A picture of the walk: the eye height after each step.
void marginWalkPicture(const std::string& path, const MarginWalk& walk,
                       const std::string& subtitle);

}  // namespace amisim
