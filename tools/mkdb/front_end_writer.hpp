#pragma once
// The transmitter's front-end Touchstone files, which its AMI_Resolve names: a lumped model of
// the driver and its package from the buffer and package data of the kit's .ibs file.
#include <filesystem>
#include <string>
#include <vector>

namespace mkdb {

// Every file name AMI_Resolve can return: three corners, six slew settings.
std::vector<std::string> txFrontEndFileNames();

// Writes those files into `outDir`; throws std::runtime_error with a clear message on a bad
// .ibs file or an unwritable directory.
void writeTxFrontEnds(const std::filesystem::path& ibsFile, const std::filesystem::path& outDir);

}  // namespace mkdb
