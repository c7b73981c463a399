#pragma once
// The amisim command: options, their checks, and the run they ask for.
#include <ostream>

namespace amisim {

// Runs amisim with the given arguments; returns the exit status (0 success, 1 any bad input
// or failure, with one "amisim: error: ..." line on `err`).
int runCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace amisim
