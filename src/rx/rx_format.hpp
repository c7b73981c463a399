#pragma once
// The receiver formats with the project's one formatter.
#include "framework/format.hpp"

namespace v10kx_ami_rx {
using ::ami::Format;
}  // namespace v10kx_ami_rx
