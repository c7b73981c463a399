#include "mkdb/json_file.hpp"

#include <fstream>
#include <stdexcept>

namespace mkdb {

nlohmann::json readJsonFile(const std::filesystem::path& file, const std::string& what) {
    std::ifstream in(file);
    if (!in) throw std::runtime_error("cannot open " + what + " " + file.string());
    try {
        return nlohmann::json::parse(in);
    } catch (const nlohmann::json::exception& e) {
        throw std::runtime_error(file.string() + ": not valid JSON: " + e.what());
    }
}

}  // namespace mkdb
