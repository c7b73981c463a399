#pragma once
// Temporary directories and files for the simulator's tests.
#include "support/temp_dir.hpp"

namespace amisim_test {

using testsupport::TempDir;

}  // namespace amisim_test
