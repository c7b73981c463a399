#pragma once
// Pieces of the response database shared between its source files; the cache calls them
// while it already holds its mutex.
#include <string>

namespace response_detail {

// Version suffix ("", "_V1p0", "_V1p1") and supply label for a supply setting and bit rate.
void SupplyVersion(const std::string& supplySetting, double bitRate, std::string& suffix,
                   std::string& label);
// MakeVersionedFileName without touching the cache; the derived label goes to resolvedLabel.
std::string VersionedName(const std::string& fileName, double bitRate, const std::string& corner,
                          const std::string& supplySetting, std::string& resolvedLabel);
// MakeCornerFileName.
std::string CornerName(const std::string& fileName, const std::string& corner);

}  // namespace response_detail
