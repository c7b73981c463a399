#pragma once
// Reading a device description file as JSON, with errors that name the file.
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

namespace mkdb {

// Throws std::runtime_error "cannot open <what> <file>" or "<file>: not valid JSON: ...".
nlohmann::json readJsonFile(const std::filesystem::path& file, const std::string& what);

}  // namespace mkdb
