#pragma once
// What a run hands back: the JSON report, the pictures and the human summary.
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "amisim/link_sim.hpp"

namespace amisim {

nlohmann::json makeReport(const LinkConfig& cfg, const LinkResult& res,
                          const std::vector<std::string>& pictures);

// Writes the pictures into `outDir` and returns their file names.
std::vector<std::string> writePictures(const std::string& outDir, const LinkResult& res);

void printSummary(std::ostream& os, const LinkConfig& cfg, const LinkResult& res,
                  bool showMessages);

}  // namespace amisim
