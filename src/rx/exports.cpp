// The receiver library's C interface.
#include "framework/ami_model.hpp"
#include "framework/entry_points.hpp"
#include "rx/user_model.hpp"

DEFINE_AMI_ENTRY_POINTS(AmiModel, v10kx_ami_rx::UserModel)
DEFINE_AMI_RESOLVE_NOOP()
