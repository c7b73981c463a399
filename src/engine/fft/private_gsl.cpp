// GSL reports an error by calling its error handler, and the default handler aborts the
// process. A model must never end the simulator, and the simulator may use GSL itself with a
// handler of its own choosing. So each model library that uses GSL carries a private copy of it
// (linked statically, every symbol hidden: see ami_use_private_gsl in the engine's
// CMakeLists.txt) and switches that copy's handler off once, when the library is loaded.
// Every GSL call of the models checks the status or null pointer it returns and turns a
// failure into the model's own error (an FftError, InterpolationError or an empty fit), which
// the C functions report; the host's GSL and its handler are never touched.
//
// Compiled only into model libraries (AMI_PRIVATE_GSL); test programs and tools link the
// shared GSL and keep its default handler, so that an unexpected GSL error still stops them.
#ifdef AMI_PRIVATE_GSL
#include <gsl/gsl_errno.h>

namespace {

const bool gslErrorsReturned = [] {
    gsl_set_error_handler_off();
    return true;
}();

}  // namespace
#endif
