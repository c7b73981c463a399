// Corner and supply-version variants of the characterisation file names.
#include <fstream>
#include <iostream>

#include "rx/response_cache_internal.hpp"
#include "rx/response_database.hpp"

namespace {

struct SplitName {
    std::string stem;       // everything before the last "."
    std::string extension;  // after the last "."; empty when there is no "."
    bool hasExtension = false;
};

SplitName splitAtLastDot(const std::string& fileName) {
    const auto dot = fileName.rfind('.');
    if (dot == std::string::npos) return {fileName, "", false};
    return {fileName.substr(0, dot), fileName.substr(dot + 1), true};
}

std::string cornerSuffix(const std::string& corner) {
    if (corner == "Fast") return "_F";
    if (corner == "Slow") return "_S";
    return "";
}

// The variant when it exists, else the message and the name as given.
std::string existingOrPlain(const std::string& candidate, const std::string& fileName) {
    std::ifstream probe(candidate, std::ios::binary);
    if (probe.is_open()) return candidate;
    std::cout << "Kavor database file " << candidate
              << " does not exist. Please check your installation." << std::endl;
    return fileName;
}

std::string assemble(const std::string& fileName, const std::string& version,
                     const std::string& corner) {
    const SplitName parts = splitAtLastDot(fileName);
    std::string name = parts.stem + version + cornerSuffix(corner);
    if (parts.hasExtension) name += "." + parts.extension;
    return name;
}

}  // namespace

namespace response_detail {

void SupplyVersion(const std::string& supplySetting, double bitRate, std::string& suffix,
                   std::string& label) {
    if (supplySetting == "Default") {
        if (bitRate <= 10.3125e9) {
            suffix = "";
            label = "0.9 V";
        } else if (bitRate > 14.2e9) {
            suffix = "_V1p1";
            label = "1.1 V";
        } else {
            suffix = "_V1p0";
            label = "1.0 V";
        }
    } else if (supplySetting == "1.0 V") {
        suffix = "_V1p0";
        label = supplySetting;
    } else if (supplySetting == "1.1 V") {
        suffix = "_V1p1";
        label = supplySetting;
    } else {
        // "0.9 V" and anything unknown: the nominal supply, no suffix.
        suffix = "";
        label = "0.9 V";
    }
}

std::string VersionedName(const std::string& fileName, double bitRate, const std::string& corner,
                          const std::string& supplySetting, std::string& resolvedLabel) {
    std::string suffix;
    SupplyVersion(supplySetting, bitRate, suffix, resolvedLabel);
    return existingOrPlain(assemble(fileName, suffix, corner), fileName);
}

std::string CornerName(const std::string& fileName, const std::string& corner) {
    return existingOrPlain(assemble(fileName, "", corner), fileName);
}

}  // namespace response_detail

std::string MakeVersionedFileName(const std::string& fileName, const std::string& /*family*/,
                                  double bitRate, const std::string& corner,
                                  const std::string& supplySetting) {
    std::string label;
    std::string name =
        response_detail::VersionedName(fileName, bitRate, corner, supplySetting, label);
    ResponseCache& cache = TheResponseCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    cache.resolvedSupplyLabel = label;
    return name;
}

std::string MakeCornerFileName(const std::string& fileName, const std::string& /*family*/,
                               const std::string& corner, const std::string& /*supplySetting*/) {
    return response_detail::CornerName(fileName, corner);
}
