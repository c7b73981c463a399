#include "amisim/host/ami_file.hpp"

#include <gtest/gtest.h>

#include "amisim/host/kit_files.hpp"
#include "test_support.hpp"

using namespace amisim;

namespace {

const char* kAmi = R"AMI(| A small receiver description, as a kit ships it
(Tiny_Rx
  (Description "Tiny receiver (for tests) | not a comment")
  (Reserved_Parameters
    (AMI_Version (Usage Info) (Type String) (Value "7.0"))
    (Init_Returns_Impulse (Usage Info) (Type Boolean) (Value True))
    (Ignore_Bits (Usage Info) (Type Integer) (Value 2000))
    (Rx_Rj (Usage Out) (Type Float) (Value 0))
  )
  (Model_Specific
    (vga_gain (Usage In) (Type Integer) (Range 3 0 7) (Default 3)
      (Description "VGA gain (0..7)"))
    (corner (Usage In) (Type Integer) (List 0 1 2) (Description "process corner"))
    (label (Usage InOut) (Type String) (Default "a b"))   | trailing comment
    (dfe
      (mode (Usage In) (Type Integer) (List 0 1 2) (Default 0))
      (note (Usage Info) (Type String) (Value "x")))
    (tap_1 (Usage Out) (Type Integer) (Default 0))
  )
)
)AMI";

AmiModelFile tiny() { return describeModel(parseAmiText(kAmi, "tiny.ami")); }

}  // namespace

TEST(AmiFile, ReadsParametersWithDefaultsNestingAndUsage) {
    AmiModelFile m = tiny();
    EXPECT_EQ(m.rootName, "Tiny_Rx");
    const AmiParameter* vga = m.find({"vga_gain"});
    ASSERT_NE(vga, nullptr);
    EXPECT_EQ(vga->defaultValue.value(), "3");
    ASSERT_TRUE(vga->range.has_value());
    EXPECT_EQ(vga->range->second, 7.0);
    EXPECT_EQ(vga->description, "VGA gain (0..7)");
    // a List without Default takes its first entry
    EXPECT_EQ(m.find({"corner"})->defaultValue.value(), "0");
    ASSERT_NE(m.find({"dfe", "mode"}), nullptr);
    EXPECT_EQ(m.find({"dfe", "mode"})->dottedName(), "dfe.mode");
    EXPECT_EQ(m.infoValue("Ignore_Bits").value(), "2000");
    EXPECT_FALSE(m.find({"Rx_Rj"})->isInput());
}

TEST(AmiFile, BuildsTheParameterStringAsASimulatorDoes) {
    AmiModelFile m = tiny();
    std::string s = buildParameterString(m, {}, {{"Database_Path", "/kit dir"}});
    EXPECT_EQ(s,
              "(Tiny_Rx (vga_gain 3) (corner 0) (label \"a b\") (dfe (mode 0)) "
              "(Database_Path \"/kit dir\"))");
    s = buildParameterString(m, {{"dfe.mode", "2"}, {"vga_gain", "7"}, {"Database_Path", "/other"}},
                             {{"Database_Path", "/kit"}});
    EXPECT_EQ(s,
              "(Tiny_Rx (vga_gain 7) (corner 0) (label \"a b\") (dfe (mode 2)) "
              "(Database_Path \"/other\"))");
}

TEST(AmiFile, RejectsBadOverrides) {
    AmiModelFile m = tiny();
    try {
        buildParameterString(m, {{"vga_gian", "2"}}, {});
        FAIL() << "an unknown name must be refused";
    } catch (const AmiFileError& e) {
        EXPECT_NE(std::string(e.what()).find("unknown parameter 'vga_gian'"), std::string::npos);
        EXPECT_NE(std::string(e.what()).find("dfe.mode"), std::string::npos);
    }
    EXPECT_THROW(buildParameterString(m, {{"mode", "1"}}, {}), AmiFileError);   // needs dfe.
    EXPECT_THROW(buildParameterString(m, {{"tap_1", "1"}}, {}), AmiFileError);  // an output
    EXPECT_THROW(buildParameterString(m, {{"vga_gain", "2.5"}}, {}), AmiFileError);
    EXPECT_THROW(parseOverride("novalue"), AmiFileError);
    EXPECT_THROW(parseOverride("=3"), AmiFileError);
    EXPECT_EQ(parseOverride("dfe.mode=1").value, "1");
    std::vector<std::string> warnings;
    buildParameterString(m, {{"vga_gain", "9"}, {"corner", "5"}}, {}, &warnings);
    EXPECT_EQ(warnings.size(), 2u);
}

TEST(AmiFile, MalformedFilesGiveTheFileAndLine) {
    auto expectError = [](const std::string& text, const std::string& part) {
        try {
            parseAmiText(text, "bad.ami");
            FAIL() << "accepted: " << text;
        } catch (const AmiFileError& e) {
            EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
    };
    expectError("(Root (a (Usage In)", "bad.ami:1: unbalanced");
    expectError("(Root\n (a \"open)\n)", "bad.ami:2: unterminated");
    expectError("(Root (a 1)) (b 2)", "after the root list");
    expectError("(Root (() 1))", "must start with a name");
    expectError("| only a comment\n", "no parameter list");
    EXPECT_THROW(readAmiFile("/nonexistent/x.ami"), AmiFileError);
}

TEST(KitFiles, ExecutableLinesInEitherPlatformFormAndOutParametersWithValue) {
    amisim_test::TempDir dir;
    // the IBIS form platform_compiler_bits; a 32-bit line first, which this host skips
    dir.write("kit.ibs",
              "[Model] tx\nModel_type Output\n[Algorithmic Model]\n"
              "Executable Linux_gcc_32 tx32.so tx32.ami\n"
              "Executable Linux_gcc_64 tx64.so tx.ami\n[End Algorithmic Model]\n"
              "[Model] rx\nModel_type Input\n[Algorithmic Model]\n"
              "Executable Windows_VisualStudio_64 rx.dll rx.ami\n"
              "Executable Linux_gcc_x86_64 rx64.so rx.ami | the older architecture form\n"
              "[End Algorithmic Model]\n");
    KitFiles k = locateKit(dir.str(), {});
    EXPECT_EQ(k.txLibrary, dir.file("tx64.so"));
    EXPECT_EQ(k.txAmi, dir.file("tx.ami"));
    EXPECT_EQ(k.rxLibrary, dir.file("rx64.so"));
    EXPECT_EQ(k.ibsFile, dir.file("kit.ibs"));
    // explicit files win
    KitFiles given;
    given.rxAmi = "/elsewhere/rx.ami";
    EXPECT_EQ(locateKit(dir.str(), given).rxAmi, "/elsewhere/rx.ami");

    // an Out parameter may carry Value instead of Default
    const AmiModelFile m = describeModel(parseAmiText(
        "(Tx (Model_Specific (Params_Valid (Usage Out) (Type Boolean) (Value True))"
        " (Vcc (Usage In) (Type Integer) (List 0 1 2) (List_Tip \"1.0 V\" \"1.1 V\" \"0.9 V\")"
        " (Default 0))))",
        "tx.ami"));
    ASSERT_NE(m.find({"Params_Valid"}), nullptr);
    EXPECT_EQ(m.find({"Params_Valid"})->defaultValue, "True");
    EXPECT_EQ(m.find({"Vcc"})->listTips, (std::vector<std::string>{"1.0 V", "1.1 V", "0.9 V"}));
}
