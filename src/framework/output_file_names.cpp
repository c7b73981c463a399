#include "framework/output_file_names.hpp"

#include <filesystem>

namespace {

// Two spellings of one file (a relative name and the absolute one) are one claim.
std::string Key(const std::string& name) {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(name, ec);
    return ec ? name : absolute.lexically_normal().string();
}

}  // namespace

OutputFileNames& TheOutputFileNames() {
    static OutputFileNames names;
    return names;
}

std::string NumberedFileName(const std::string& name, unsigned n) {
    if (n <= 1) return name;
    // The extension starts at the last '.' of the file name part, unless that is its first
    // character (a hidden file has no extension).
    const std::size_t slash = name.find_last_of('/');
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = name.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && dot > base;
    const std::size_t at = hasExtension ? dot : name.size();
    return name.substr(0, at) + "_" + std::to_string(n) + name.substr(at);
}

std::string ClaimOutputFileName(const std::string& name) {
    OutputFileNames& names = TheOutputFileNames();
    std::lock_guard<std::mutex> lock(names.mutex);
    for (unsigned n = 1;; ++n) {
        const std::string candidate = NumberedFileName(name, n);
        if (names.inUse.insert(Key(candidate)).second) return candidate;
    }
}

void ReleaseOutputFileName(const std::string& claimed) {
    OutputFileNames& names = TheOutputFileNames();
    std::lock_guard<std::mutex> lock(names.mutex);
    names.inUse.erase(Key(claimed));
}
