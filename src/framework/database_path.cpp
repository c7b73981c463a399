// Settling the device database directory.
#include "framework/database_path.hpp"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "framework/ami_tree.hpp"

std::string DirectoryPart(const std::string& fileName) {
    std::string result;
    std::string component;
    bool first = true;
    for (char c : fileName) {
        if (c == '/' || c == '\\') {
            if (!first) result += '/';
            result += component;
            component.clear();
            first = false;
        } else {
            component += c;
        }
    }
    return result;  // the last component, the file name, is dropped
}

namespace {

// Any address inside this library serves to find the file it was loaded from.
void AddressInThisModule() {}

std::string ExecutableDirectory() {
    std::vector<char> buffer(PATH_MAX + 1, '\0');
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), PATH_MAX);
    if (n <= 0) return {};
    return DirectoryPart(std::string(buffer.data(), static_cast<std::size_t>(n)));
}

// The loader keeps the absolute directory of every object it loaded, computed with the
// working directory of the moment, so a library loaded by a relative name is still found
// after the simulator has changed directory.
std::string LoaderOriginOf(const char* loadedName) {
    void* handle = dlopen(loadedName, RTLD_LAZY | RTLD_NOLOAD);
    if (!handle) return {};
    std::vector<char> origin(PATH_MAX + 1, '\0');
    std::string result;
    if (dlinfo(handle, RTLD_DI_ORIGIN, origin.data()) == 0) result = origin.data();
    dlclose(handle);
    return result;
}

}  // namespace

std::string ModuleDirectory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&AddressInThisModule), &info) == 0 || !info.dli_fname ||
        info.dli_fname[0] == '\0') {
        return ExecutableDirectory();
    }
    const std::string fileName = info.dli_fname;
    if (fileName.front() == '/') return DirectoryPart(fileName);
    // The loader keeps "dir/." for a library opened as "./name".
    const std::string origin = LoaderOriginOf(info.dli_fname);
    if (!origin.empty()) {
        std::string dir = std::filesystem::path(origin).lexically_normal().string();
        while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
        return dir;
    }
    // Linked into the program itself: the loader names it by argv[0], which may be relative.
    return ExecutableDirectory();
}

DataDirResult ResolveDataDir(const AmiParamTree& tree, std::string& log,
                             const std::string& moduleDir) {
    DataDirResult result;
    std::string value;

    const int dllCode = tree.GetLeaf({tree.rootName, "DLL_Path"}, value);
    if (dllCode == 0 && value != "nopath") {
        result.dataDir = value;
        log += "INFO: Path: `" + value + "' was specified by DLL_Path.\n";
    } else if (dllCode == 2) {
        log +=
            "INFO: \"DLL_Path\" parameter does not exist. Use \"Database_Path\" parameter for "
            "data file accesses.\n";
    } else if (dllCode == 0) {
        log +=
            "INFO: DLL_Path is not specified (DLL_Path = \"nopath\"). Use \"Database_Path\" "
            "parameter for data file accesses.\n";
    } else {
        log += "INFO: DLL_Path not specified or invalid path received from simulator.\n";
    }

    bool fallback = true;
    value.clear();
    if (tree.GetLeaf({tree.rootName, "Database_Path"}, value) == 0) {
        if (value == "DLL_Path") {
            log += "INFO from Database_Path: Use DLL_Path info for database access.\n";
        } else if (value == "currentpath" || value == "CurrentPath" || value == "Currentpath") {
            result.dataDir = moduleDir;
            result.fromModuleDir = true;
            log += "INFO from Database_Path: Use current path [" + result.dataDir +
                   "] for accessing database files.\n";
            fallback = false;
        } else if (value != "nopath") {
            result.dataDir = value;
            log += "INFO from Database_Path: Path: `" + value + "' was specified.\n";
            fallback = false;
        }
    }
    if (fallback) {
        result.dataDir = moduleDir;
        result.fromModuleDir = true;
        log +=
            "WARNING: No path received from DLL_Path or Database_Path. Assume current path for "
            "device database access. If error occurs, please set DLL_Path or Database_Path to "
            "where the device database is located.\n";
    }
    return result;
}

std::string WithTrailingSlash(const std::string& dir) { return dir.empty() ? dir : dir + "/"; }
