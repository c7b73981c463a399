// Short runs of the real kit through the amisim program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "test_support.hpp"

namespace {

nlohmann::json runKit(const amisim_test::TempDir& dir, const std::string& name,
                      const std::string& options) {
    const std::string out = dir.file(name);
    const std::string cmd = std::string(AMISIM_EXE) + " --quiet --kit " + KIT_DIR + " --out " +
                            out + " " + options + " > " + dir.file(name + ".log") + " 2>&1";
    const int rc = std::system(cmd.c_str());
    std::ifstream log(dir.file(name + ".log"));
    std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_EQ(rc, 0) << cmd << "\n" << text;
    std::ifstream in(out + "/report.json");
    if (!in) return {};
    return nlohmann::json::parse(in);
}

void requireKit() {
    for (const char* f :
         {"v10kx_ami_tx_x64.so", "v10kx_ami_rx_x64.so", "v10kx_ami_tx.ami", "v10kx_ami_rx.ami"})
        ASSERT_TRUE(std::filesystem::exists(std::filesystem::path(KIT_DIR) / f))
            << "the kit is incomplete: " << f << " is missing from " << KIT_DIR;
}

}  // namespace

TEST(KitEndToEnd, DefaultLinkInBothModes) {
    requireKit();
    amisim_test::TempDir dir;
    nlohmann::json j = runKit(dir, "both", "--bits 4000 --ignore-bits 1000");
    ASSERT_TRUE(j.contains("statistical")) << j.dump(2);
    const double sh = j["statistical"]["eye_height"].get<double>();
    const double sw = j["statistical"]["eye_width"].get<double>();
    const double th = j["time_domain"]["eye_height"].get<double>();
    const double tw = j["time_domain"]["eye_width"].get<double>();
    EXPECT_GE(sh, 0.0);
    EXPECT_LT(sh, 2.0);
    EXPECT_GE(sw, 0.0);
    EXPECT_LE(sw, 1.0);
    EXPECT_GE(th, 0.0);
    EXPECT_LT(th, 2.0);
    EXPECT_LE(tw, 1.0);
    // the transmitter reports its jitter at 10.3125 Gb/s
    EXPECT_NEAR(j["tx"]["outputs"]["Tx_Rj"].get<double>(), 3.677475e-13, 1e-18);
}

TEST(KitEndToEnd, ReceiverEqualisationOpensAnEyeTheBareLinkKeepsShut) {
    requireKit();
    amisim_test::TempDir dir;
    // 20 dB of loss at Nyquist with the CTLE at its lowest gain: closed at 1e-12
    nlohmann::json bare = runKit(dir, "bare", "--mode stat");
    // the CTLE at full high-data-rate gain restores the eye in both modes
    nlohmann::json eq = runKit(dir, "eq", "--bits 3000 --ignore-bits 1000 --rx eqz_s1_ac_gain=15");
    ASSERT_TRUE(bare.contains("statistical") && eq.contains("time_domain"));
    EXPECT_EQ(bare["statistical"]["eye_height"].get<double>(), 0.0);
    EXPECT_FALSE(bare.contains("time_domain"));
    EXPECT_GT(eq["statistical"]["eye_height"].get<double>(), 0.02);
    EXPECT_GT(eq["statistical"]["eye_width"].get<double>(), 0.1);
    EXPECT_GT(eq["time_domain"]["eye_height"].get<double>(), 0.02);
    EXPECT_EQ(eq["time_domain"]["bit_errors"].get<int>(), 0);
    EXPECT_NE(eq["rx"]["parameters_in"].get<std::string>().find("(eqz_s1_ac_gain 15)"),
              std::string::npos);
}

TEST(KitEndToEnd, UnknownReceiverParameterIsRefused) {
    requireKit();
    amisim_test::TempDir dir;
    const std::string cmd = std::string(AMISIM_EXE) + " --quiet --kit " + KIT_DIR + " --out " +
                            dir.file("x") + " --mode stat --rx dfe.mood=1 > " + dir.file("log") +
                            " 2>&1";
    EXPECT_NE(std::system(cmd.c_str()), 0);
    std::ifstream log(dir.file("log"));
    std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("unknown parameter 'dfe.mood'"), std::string::npos) << text;
}
