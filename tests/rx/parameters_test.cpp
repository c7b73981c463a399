// Parameter handling of AMI_Init: the table of integer parameters, the mode settings, and the
// kit's .ami file against what the model reads.
#include <gtest/gtest.h>

#include <boost/variant/get.hpp>

#include "framework/ami_tree.hpp"
#include "rx_test_support.hpp"

using namespace rxtest;

namespace {

std::string InitMessage(const std::string& params) {
    std::vector<double> impulse(128, 0.0);
    RxInstance rx(impulse, 1e-10 / 32, 1e-10, params);
    EXPECT_TRUE(rx.ok());
    return rx.message();
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

const ts_ami::AmiTree* Child(const ts_ami::AmiTree& tree, const std::string& name) {
    for (const ts_ami::AmiNode& node : tree.children) {
        if (const auto* list = boost::get<ts_ami::AmiTree>(&node)) {
            if (list->name == name) return list;
        }
    }
    return nullptr;
}

std::string FirstText(const ts_ami::AmiTree& tree) {
    for (const ts_ami::AmiNode& node : tree.children) {
        if (const auto* text = boost::get<std::string>(&node)) return *text;
    }
    return {};
}

// "(name value)" for every In parameter below `tree`, nested groups kept, as a simulator
// builds the parameter string from the defaults.
std::string DefaultsOf(const ts_ami::AmiTree& tree) {
    std::string text;
    for (const ts_ami::AmiNode& node : tree.children) {
        const auto* list = boost::get<ts_ami::AmiTree>(&node);
        if (!list) continue;
        const ts_ami::AmiTree& param = *list;
        const ts_ami::AmiTree* usage = Child(param, "Usage");
        if (!usage) {
            text += " (" + param.name + DefaultsOf(param) + ")";
            continue;
        }
        const std::string usageText = FirstText(*usage);
        if (usageText.rfind("In", 0) != 0 || usageText.rfind("Info", 0) == 0) continue;
        const ts_ami::AmiTree* value = Child(param, "Default");
        if (!value) value = Child(param, "Value");
        if (value) text += " (" + param.name + " " + FirstText(*value) + ")";
    }
    return text;
}

}  // namespace

class ParametersTest : public ::testing::Test {
  protected:
    TempDir dir;
    void SetUp() override { WriteTestDatabase(dir.path(), TestDatabase{}); }
};

TEST_F(ParametersTest, IllegalAndUnreadableValuesFallBackToTheirDefaults) {
    const std::string message = InitMessage(Params(
        dir.path(), {{"vga_gain", "9"}, {"eqz_bw_sel", "0"}, {"corner", "abc"}, {"pwrql", "2x"}}));
    EXPECT_NE(message.find("Illegal value supplied for parameter 'vga_gain': 9\n"
                           "Using default value: 0\n\n\tvga_gain: 0\n"),
              std::string::npos)
        << message;
    EXPECT_NE(message.find("Illegal value supplied for parameter 'eqz_bw_sel': 0\n"
                           "Using default value: 1\n\n\teqz_bw_sel: 1\n"),
              std::string::npos);
    EXPECT_NE(message.find("Couldn't scan an integer from the value string of parameter "
                           "'corner': abc\nUsing default value: 0\n\n\tcorner: 0\n"),
              std::string::npos);
    // Trailing text after the number is ignored.
    EXPECT_NE(message.find("\tpwrql: 2\n"), std::string::npos);
    EXPECT_NE(message.find("WARNING: An error was reported by `FetchParamVals()`\n"
                           "         Simulation results may be suspect.\n"),
              std::string::npos);
    EXPECT_EQ(message.find("All parameters parsed successfully."), std::string::npos);
}

TEST_F(ParametersTest, IntegersBeyondIntSaturateInsteadOfWrapping) {
    // 2^32 + 1 wraps round to 1 (a legal corner) in a 32-bit scan; saturated it is illegal.
    const std::string message =
        InitMessage(Params(dir.path(), {{"corner", "4294967297"}, {"pwrql", "-4294967295"}}));
    EXPECT_NE(message.find("Illegal value supplied for parameter 'corner': 2147483647\n"
                           "Using default value: 0\n\n\tcorner: 0\n"),
              std::string::npos)
        << message;
    EXPECT_NE(message.find("Illegal value supplied for parameter 'pwrql': -2147483648\n"
                           "Using default value: 0\n\n\tpwrql: 0\n"),
              std::string::npos);
    // 2^32 wraps round to 0; saturated it stays a non-zero selector: the high-gain CTLE, which
    // reports a sensitivity.
    const std::string huge = InitMessage(Params(dir.path(), {{"ctle_hg_sel", "4294967296"}}));
    EXPECT_NE(huge.find("  (Rx_Receiver_Sensitivity  6.000000e-03)\n"), std::string::npos) << huge;
}

TEST_F(ParametersTest, BytesAbove127InValuesLeaveTheOtherParametersReadable) {
    // A simulator fills DLL_Path from the install folder, whatever its name.
    const std::string message =
        InitMessage(Params(dir.path(), {{"DLL_Path", "\"/home/jos\xc3\xa9/kit\""},
                                        {"eqz_s1_ac_gain", "12"},
                                        {"note", "caf\xc3\xa9 cr\xc3\xa8me"}}));
    EXPECT_NE(message.find("\teqz_s1_ac_gain: 12\n"), std::string::npos) << message;
    EXPECT_EQ(message.find("WARNING: Failed to parse"), std::string::npos);
}

TEST_F(ParametersTest, MissingModeSettingsAreReportedWhereEachStepReadsThem) {
    // The jitter step reads ctle_hg_sel and the DFE mode; the label step reads ctle_hg_sel
    // again with ctle_mode.
    const std::string message = InitMessage(Params(dir.path()));
    EXPECT_NE(message.find("WARNING: Couldn't find `ctle_hg_sel.' parameter.\n"
                           "WARNING: Couldn't find `dfe.mode.' parameter.\n"
                           "  Bit rate:  10.000000 Gbps\n"),
              std::string::npos)
        << message;
    EXPECT_NE(message.find("  (Rx_Receiver_Sensitivity  0.000000e+00)\n"
                           "WARNING: Couldn't find `ctle_hg_sel.' parameter.\n"
                           "WARNING: Couldn't find `ctle_mode.' parameter.\n"),
              std::string::npos)
        << message;
    EXPECT_EQ(Count(message, "ctle_hg_sel.' parameter"), 2u);
}

TEST_F(ParametersTest, HighestBandwidthSelectorIsLegal) {
    const std::string message =
        InitMessage(Params(dir.path(), {{"eqz_bw_sel", "4"}, {"vga_bw_sel", "4"}}));
    EXPECT_NE(message.find("\teqz_bw_sel: 4\n"), std::string::npos);
    EXPECT_EQ(message.find("Illegal value"), std::string::npos);
}

TEST_F(ParametersTest, AutoAdaptationIsAskedForByCtleModeAndNeverForQpi) {
    // An impulse of zeros cannot be adapted to: the attempt shows as its one warning.
    const std::string tried = "WARNING: CTLE/VGA auto-adaptation did not run: ";
    std::string message =
        InitMessage(Params(dir.path(), {{"ctle_mode", "1"}, {"dfe", "(mode 2)"}}));
    EXPECT_EQ(Count(message, tried), 1u) << message;
    EXPECT_EQ(Count(message, "not available"), 0u);
    message = InitMessage(Params(dir.path(), {{"ctle_mode", "1"}, {"QPI_sel", "1"}}));
    EXPECT_EQ(Count(message, "auto-adaptation"), 0u) << message;
    message = InitMessage(Params(dir.path(), {{"ctle_mode", "0"}}));
    EXPECT_EQ(Count(message, "auto-adaptation"), 0u) << message;
}

TEST_F(ParametersTest, KitAmiFileDefaultsCoverEveryParameterTheModelReads) {
    const AmiParamTree ami(ReadFile(RX_AMI_FILE));
    EXPECT_EQ(ami.rootName, "Vanta10_Rx");
    const ts_ami::AmiTree* reserved = Child(ami.root, "Reserved_Parameters");
    const ts_ami::AmiTree* specific = Child(ami.root, "Model_Specific");
    ASSERT_TRUE(reserved && specific);
    for (const char* name : {"AMI_Version", "Init_Returns_Impulse", "GetWave_Exists"}) {
        EXPECT_TRUE(Child(*reserved, name)) << name;
    }
    EXPECT_EQ(FirstText(*Child(*Child(*reserved, "Init_Returns_Impulse"), "Value")), "True");
    EXPECT_EQ(FirstText(*Child(*Child(*reserved, "GetWave_Exists"), "Value")), "True");

    // The defaults as a simulator passes them, with the test database instead of currentpath.
    std::string params = "(" + ami.rootName + DefaultsOf(*specific) + ")";
    const std::string currentPath = "(Database_Path currentpath)";
    const std::size_t at = params.find(currentPath);
    ASSERT_NE(at, std::string::npos) << params;
    params.replace(at, currentPath.size(), "(Database_Path \"" + dir.path().string() + "\")");

    // The kit's defaults adapt the equaliser and run the adaptive DFE: on a database with its
    // DFE maps and a lossy channel, without a warning.
    TempDir kit;
    WriteReducedKitDatabase(kit.path());
    params.replace(params.find(dir.path().string()), dir.path().string().size(),
                   kit.path().string());
    std::vector<double> impulse = PoleChannel(1.0, 32, 1e-10 / 32);
    RxInstance rx(impulse, 1e-10 / 32, 1e-10, params);
    ASSERT_TRUE(rx.ok());
    const std::string& message = rx.message();
    EXPECT_NE(message.find("All parameters parsed successfully.\n"), std::string::npos) << message;
    EXPECT_EQ(message.find("WARNING"), std::string::npos) << message;
    EXPECT_EQ(Count(message, "After adaptaion: AC Gain: "), 1u) << message;
    EXPECT_NE(rx.paramsOut().find(" (tap_11 "), std::string::npos) << rx.paramsOut();
    for (const char* name :
         {"ctle_hg_sel", "ctle_mode", "float_start", "DFE_tap_length", "tap_1", "tap_11"}) {
        EXPECT_NE(params.find(std::string("(") + name + " "), std::string::npos) << name;
    }
    EXPECT_NE(params.find("(dfe (mode 2))"), std::string::npos) << params;
    EXPECT_NE(params.find("(ctle_mode 1)"), std::string::npos) << params;
    EXPECT_NE(params.find("(cdr_sel 0)"), std::string::npos) << params;
    EXPECT_NE(params.find("(debug (enable False)"), std::string::npos) << params;
}
