// A simulator that uses GSL itself, with its own error handler, loads the model libraries: the
// models neither change that handler nor call it, and a GSL error inside a model comes back as
// a status instead of ending the process.
#include <gsl/gsl_errno.h>
#include <gsl/gsl_interp.h>
#include <gtest/gtest.h>

#include <vector>

#include "support/ami_exports.hpp"

namespace {

int hostErrors = 0;
void CountHostError(const char*, const char*, int, int) { ++hostErrors; }

// The host's own GSL still reports to the host's handler.
void ExpectHostGslReportsToItsHandler() {
    const int before = hostErrors;
    const double x[2] = {1.0, 1.0};
    const double y[2] = {0.0, 1.0};
    gsl_interp* interp = gsl_interp_alloc(gsl_interp_linear, 2);
    EXPECT_NE(gsl_interp_init(interp, x, y, 2), GSL_SUCCESS);
    gsl_interp_free(interp);
    EXPECT_EQ(hostErrors, before + 1);
}

// AMI_Init, two AMI_GetWave blocks, AMI_Close; returns the AMI_Init message.
std::string RunModel(const std::string& library, const std::string& params) {
    const testsupport::AmiExports lib = testsupport::LoadAmiExports(library);
    EXPECT_TRUE(lib.complete()) << lib.error;
    if (!lib.complete()) return {};
    std::vector<double> impulse(512, 0.0);
    impulse[3] = 1.0;
    std::string in = params;
    char* out = nullptr;
    char* msg = nullptr;
    void* handle = nullptr;
    EXPECT_EQ(lib.init(impulse.data(), 512, 0, 1e-10 / 16, 1e-10, in.data(), &out, &handle, &msg),
              1)
        << (msg ? msg : "");
    const std::string message = msg ? msg : "";
    for (int block = 0; block < 2; ++block) {
        std::vector<double> wave(512, block ? -0.4 : 0.4);
        std::vector<double> clocks(wave.size() + 1);
        lib.getWave(wave.data(), 512, clocks.data(), &out, handle);
    }
    lib.close(handle);
    return message;
}

class HostGslHandler : public ::testing::Test {
  protected:
    void SetUp() override {
        hostErrors = 0;
        previous_ = gsl_set_error_handler(&CountHostError);
    }
    void TearDown() override { gsl_set_error_handler(previous_); }
    gsl_error_handler_t* previous_ = nullptr;
};

TEST_F(HostGslHandler, ModelGslErrorIsAStatusNotTheHostsHandlerNorAnAbort) {
    const std::string message = RunModel(AMI_TEST_GSL_LIB, "(Test)");
    EXPECT_NE(message.find("GSL status " + std::to_string(GSL_EINVAL) + ": "), std::string::npos)
        << message;
    EXPECT_EQ(hostErrors, 0);
    EXPECT_EQ(gsl_set_error_handler(&CountHostError), &CountHostError);
    ExpectHostGslReportsToItsHandler();
}

#ifdef V10KX_RX_LIB
TEST_F(HostGslHandler, ReceiverAndTransmitterLeaveTheHostHandlerInPlace) {
    RunModel(V10KX_RX_LIB, "(Vanta10_Rx (eqz_s1_ac_gain 4) (vga_gain 2))");
#ifdef V10KX_TX_LIB
    RunModel(V10KX_TX_LIB, "(Vanta10_Tx (Vod 20) (tap1 3) (inv_tap1 1))");
#endif
    EXPECT_EQ(hostErrors, 0);
    EXPECT_EQ(gsl_set_error_handler(&CountHostError), &CountHostError);
    ExpectHostGslReportsToItsHandler();
}
#endif

}  // namespace
