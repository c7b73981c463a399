#pragma once
// The debug and dump files of a model have fixed names in the working directory. Two live
// instances with the same file switched on would write into one file and lose each other's
// lines, so every name is claimed by one live instance at a time: the first keeps the fixed
// name, a concurrent one gets "_2" (then "_3", ...) before the extension. A name is free again
// once its holder is destroyed.
#include <mutex>
#include <set>
#include <string>

// Every file name held by a live model instance of this library, as absolute paths.
struct OutputFileNames {
    std::mutex mutex;
    std::set<std::string> inUse;
};
OutputFileNames& TheOutputFileNames();

// `name` with "_<n>" before its extension (after the last '.' of the file name part); n = 1 is
// the name itself.
std::string NumberedFileName(const std::string& name, unsigned n);

// The first of name, name_2, name_3, ... that no live instance holds; it is held from now on.
std::string ClaimOutputFileName(const std::string& name);
void ReleaseOutputFileName(const std::string& claimed);
