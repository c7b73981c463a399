#pragma once
// The parts of report.html that let it stand alone when sent on: the models with every
// parameter they received, the jitter budget, the channel's checks, and the failed sweep points
// among the warnings.
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace amisim {

// HTML of the models, jitter and channel-check sections, from the JSON report.
std::string htmlModelSections(const nlohmann::json& report);

// Every warning of the report, with a line for each sweep point that failed.
std::vector<std::string> reportWarnings(const nlohmann::json& report);

// The line of a model's message that identifies it ("Model Identification: ..." or the
// receiver's own identification), else its first line.
std::string identificationLine(const std::string& message);

std::string htmlEscaped(const std::string& s);

}  // namespace amisim
