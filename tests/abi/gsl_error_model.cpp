// A receiver-like test model library that makes its GSL report an error during AMI_Init (an
// interpolation table whose abscissae do not increase) and hands the status back in its message.
// It carries GSL the way the receiver library does.
#include <gsl/gsl_errno.h>
#include <gsl/gsl_interp.h>

#include "framework/ami_model.hpp"
#include "framework/entry_points.hpp"
#include "framework/format.hpp"

namespace abi_test {

class GslErrorModel : public AmiModel {
  public:
    GslErrorModel(double* /*impulse_matrix*/, long row_size, int aggressors, double sample_interval,
                  double bit_time, const char* AMI_parameters_in)
        : AmiModel(row_size, aggressors, sample_interval, bit_time, AMI_parameters_in) {
        const double x[3] = {0.0, 1.0, 1.0};
        const double y[3] = {0.0, 1.0, 2.0};
        gsl_interp* interp = gsl_interp_alloc(gsl_interp_linear, 3);
        const int status = interp ? gsl_interp_init(interp, x, y, 3) : GSL_ENOMEM;
        gsl_interp_free(interp);
        msgLog += ami::Format("GSL status %d: %s\n", status, gsl_strerror(status));
        paramsOut = "(Test)\n";
        Init();
    }

    void Configure() override {}
};

}  // namespace abi_test

DEFINE_AMI_ENTRY_POINTS(AmiModel, abi_test::GslErrorModel)
DEFINE_AMI_RESOLVE_NOOP()
