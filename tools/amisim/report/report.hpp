#pragma once
// What a run hands back: the JSON report, the pictures, the CSV tables, the HTML page and the
// human summary.
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "amisim/run/link_sim.hpp"
#include "amisim/run/optimizer.hpp"
#include "amisim/run/sweep.hpp"

namespace amisim {

struct RunInfo {
    std::string version;
    std::vector<std::string> commandLine;
    const SweepResult* sweep = nullptr;        // set when the run swept parameters
    const OptimizeResult* optimize = nullptr;  // set when the run searched the taps
};

// One line naming the channel, the bit rate and the settings given on the command line.
std::string linkSubtitle(const LinkConfig& cfg, const LinkResult& res);

// What each simulation mode includes, in a sentence each.
std::string statisticalIncludes(const LinkResult& res);
std::string timeDomainIncludes(const LinkResult& res);

// Writes the pictures into `outDir` and returns their file names.
std::vector<std::string> writePictures(const std::string& outDir, const LinkConfig& cfg,
                                       const LinkResult& res, const SweepResult* sweep);

// Writes the CSV tables into `outDir` and returns their file names.
std::vector<std::string> writeCsvFiles(const std::string& outDir, const LinkConfig& cfg,
                                       const LinkResult& res, const SweepResult* sweep);

nlohmann::json makeReport(const LinkConfig& cfg, const LinkResult& res, const RunInfo& info,
                          const std::vector<std::string>& pictures,
                          const std::vector<std::string>& csvFiles);

// A self-contained HTML page of the report: the summary table, the warnings and every picture
// (read from `outDir` and embedded).
std::string htmlReport(const nlohmann::json& report, const std::string& outDir);

void printSummary(std::ostream& os, const LinkConfig& cfg, const LinkResult& res, bool showMessages,
                  const SweepResult* sweep, const OptimizeResult* optimize = nullptr);

}  // namespace amisim
