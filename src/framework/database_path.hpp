#pragma once
// Settling the device database directory from DLL_Path, Database_Path or the library's own
// location, with the INFO/WARNING lines that explain the decision.
#include <string>

class AmiParamTree;

struct DataDirResult {
    std::string dataDir;         // without the trailing "/" (callers append it, see below)
    bool fromModuleDir = false;  // taken from the module directory (current-path rule or fallback)
};

// Directory part of a file name: separators "/" and "\\" both end a component, the result is
// joined with "/" and has no trailing separator.
std::string DirectoryPart(const std::string& fileName);

// Directory of the shared library (or executable) that holds this code.
std::string ModuleDirectory();

// Runs the resolution against `tree`, appending its lines to `log`. `moduleDir` is normally
// ModuleDirectory(); tests pass their own.
DataDirResult ResolveDataDir(const AmiParamTree& tree, std::string& log,
                             const std::string& moduleDir);

// Appends "/" to a non-empty directory (always, even when it already ends in a separator).
std::string WithTrailingSlash(const std::string& dir);
