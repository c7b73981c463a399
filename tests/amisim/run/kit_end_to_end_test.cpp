// Short runs of the real kit through the amisim program: the default link, a measured-style
// channel in both port numberings, and the models' warnings.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "channel/backplane_s4p.hpp"
#include "test_support.hpp"

namespace {

nlohmann::json runKit(const amisim_test::TempDir& dir, const std::string& name,
                      const std::string& options, std::string* summary = nullptr) {
    const std::string out = dir.file(name);
    const auto r = amisim_test::runAmisim(
        dir, std::string("--quiet --kit ") + KIT_DIR + " --out " + out + " " + options);
    EXPECT_EQ(r.status, 0) << options << "\n" << r.err;
    if (summary) *summary = r.out;
    const std::string text = amisim_test::readFile(out + "/report.json");
    if (text.empty()) return {};
    return nlohmann::json::parse(text);
}

void requireKit() {
    for (const char* f :
         {"v10kx_ami_tx_x64.so", "v10kx_ami_rx_x64.so", "v10kx_ami_tx.ami", "v10kx_ami_rx.ami"})
        ASSERT_TRUE(std::filesystem::exists(std::filesystem::path(KIT_DIR) / f))
            << "the kit is incomplete: " << f << " is missing from " << KIT_DIR;
}

bool anyContains(const nlohmann::json& list, const std::string& what) {
    for (const auto& s : list)
        if (s.get<std::string>().find(what) != std::string::npos) return true;
    return false;
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
    // 1000 ignored bits are too few for this receiver: the only warning says so
    for (const auto& w : j["warnings"])
        EXPECT_NE(w.get<std::string>().find("has not settled"), std::string::npos) << w;
    // the margin walk runs from the statistical eye as reported to the time-domain eye
    const nlohmann::json& steps = j["margin_walk"]["steps"];
    ASSERT_EQ(steps.size(), 6u) << j["margin_walk"].dump(2);
    EXPECT_DOUBLE_EQ(steps.front()["eye_height"].get<double>(), sh);
    EXPECT_DOUBLE_EQ(steps.back()["eye_height"].get<double>(), th);
    // without jitter the statistical eye only opens
    EXPECT_GE(steps[1]["eye_height"].get<double>(), sh);
    // the models' parts and the whole link, from the impulse responses
    // the line's 20 dB and what the kit's analog ends (its front-end file) add to it
    const nlohmann::json& ends = j["channel"]["ends"];
    EXPECT_TRUE(ends["analog"].get<bool>());
    EXPECT_NE(ends["tx_front_end_file"].get<std::string>().find("v10tx_afe_tt_1.s4p"),
              std::string::npos);
    EXPECT_GT(ends["cost_at_nyquist_db"].get<double>(), 0.0);
    EXPECT_NEAR(
        j["channel"]["loss_at_nyquist_db"].get<double>() - ends["cost_at_nyquist_db"].get<double>(),
        20.0, 0.05);
    EXPECT_EQ(j["frequency_response"]["link_db"].size(), j["frequency_response"]["hz"].size());
}

TEST(KitEndToEnd, ReceiverEqualisationOpensAnEyeTheBareLinkKeepsShut) {
    requireKit();
    amisim_test::TempDir dir;
    // gains set by hand, whatever the kit's defaults choose: no adaptation, no DFE
    // (between ideal ends: the line's loss alone)
    const std::string manual = " --rx ctle_mode=0 --rx dfe.mode=0 --ideal-ends";
    // 20 dB of loss at Nyquist with the CTLE at its lowest gain: closed at 1e-12
    nlohmann::json bare = runKit(dir, "bare", "--mode stat --samples-per-bit 16" + manual);
    // the CTLE at full high-data-rate gain restores the eye in both modes
    nlohmann::json eq = runKit(dir, "eq",
                               "--bits 3000 --ignore-bits 1000 --samples-per-bit 16"
                               " --rx eqz_s1_ac_gain=15" +
                                   manual);
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

TEST(KitEndToEnd, MeasuredChannelGivesTheSameEyeInEitherPortNumbering) {
    requireKit();
    amisim_test::TempDir dir;
    amisim_test::BackplaneOptions o;
    o.stopHz = 20e9;  // twice the bit rate
    const std::string a = dir.write("a.s4p", amisim_test::backplaneS4p(o));
    o.order = amisim::PortOrder::Pairs13_24;
    const std::string b = dir.write("b.s4p", amisim_test::backplaneS4p(o));
    const std::string eq =
        " --mode stat --samples-per-bit 16 --tx tap1=8 --tx inv_tap1=1 --rx eqz_s1_ac_gain=12"
        " --rx ctle_mode=0 --rx dfe.mode=0 --ideal-ends";
    const nlohmann::json ja = runKit(dir, "a", "--s4p " + a + eq);
    const nlohmann::json jb = runKit(dir, "b", "--s4p " + b + eq);
    EXPECT_EQ(ja["channel"]["ports"], "1-2/3-4");
    EXPECT_EQ(jb["channel"]["ports"], "1-3/2-4");
    EXPECT_EQ(jb["channel"]["ports_detected"], true);
    EXPECT_NEAR(jb["channel"]["loss_at_nyquist_db"].get<double>(), 20.2, 0.3);
    EXPECT_GT(ja["statistical"]["eye_height"].get<double>(), 0.02);
    EXPECT_DOUBLE_EQ(ja["statistical"]["eye_height"].get<double>(),
                     jb["statistical"]["eye_height"].get<double>());
    EXPECT_TRUE(jb["warnings"].empty()) << jb["warnings"].dump(2);
    // forced to the wrong numbering, the run says why its result is nonsense
    const nlohmann::json wrong = runKit(dir, "wrong", "--s4p " + b + " --ports 1-2/3-4" + eq);
    EXPECT_TRUE(
        anyContains(wrong["warnings"], "port numbering 1-3/2-4, but 1-2/3-4 was asked for"));
    EXPECT_TRUE(anyContains(wrong["warnings"], "check the port numbering"));
}

TEST(KitEndToEnd, TheModelsWarningsReachTheSummaryAndTheReport) {
    requireKit();
    amisim_test::TempDir dir;
    std::string summary;
    // 50 Gb/s lies outside the transmitter's legal range
    nlohmann::json j =
        runKit(dir, "fast", "--mode stat --samples-per-bit 16 --bit-rate 5e10", &summary);
    EXPECT_TRUE(anyContains(j["warnings"],
                            "Vanta10_Tx: **Warning** Bit rate is outside the legal range of "
                            "0.611000 - 17.400000 Gbps!"));
    EXPECT_EQ(j["tx"]["params_valid"], false);
    EXPECT_NE(summary.find("Vanta10_Tx reports Params_Valid False"), std::string::npos) << summary;
    // a database folder that does not exist: the receiver's console lines name the files
    j = runKit(dir, "nodb", "--mode stat --samples-per-bit 16 --rx Database_Path=/nonexistent",
               &summary);
    EXPECT_TRUE(
        anyContains(j["model_warnings"]["rx"], "printed: Kavor database file /nonexistent/"));
    EXPECT_NE(summary.find("Kavor database file"), std::string::npos);
}
