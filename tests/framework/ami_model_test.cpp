// Receiver base: parse warnings, debug file, dump files and block timing.
#include <memory>

#include "framework/output_file_names.hpp"
#include "test_rx_model.hpp"

namespace {

using AmiModelFiles = InTempDir;

const char* kInputDumpRequest = "(Rx (debug (enable True) (dump_getwave_input True)))";

TEST(AmiModel, UnparsableStringWarnsAndContinuesWithoutTree) {
    const std::string bad = "(Rx (a 1 (b 2)))";
    TestRxModel m(bad.c_str());
    EXPECT_EQ(m.Tree(), nullptr);
    EXPECT_EQ(m.MsgLog(),
              "WARNING: Failed to parse input AMI parameter string; continuing with default "
              "parameter values.\nThe input AMI parameter string was:\nParse failed at: )\nin: " +
                  bad);
    EXPECT_EQ(m.DataDir(), "");
    EXPECT_FALSE(m.DataDirEmpty());

    TestRxModel none(nullptr);
    EXPECT_EQ(none.Tree(), nullptr);
    EXPECT_NE(none.MsgLog().find("Parse failed at: \nin: "), std::string::npos);
}

TEST(AmiModel, PathLinesComeFromTheConstructor) {
    TestRxModel m("(Rx (Database_Path /data/rx))");
    ASSERT_NE(m.Tree(), nullptr);
    EXPECT_EQ(m.DataDir(), "/data/rx");
    EXPECT_NE(m.MsgLog().find("INFO from Database_Path: Path: `/data/rx' was specified.\n"),
              std::string::npos);
}

TEST_F(AmiModelFiles, InitLogsRowSizeOnceAndConfigures) {
    TestRxModel m("(Rx)", 16);
    m.Init();
    EXPECT_EQ(m.configureCalls, 1);
    EXPECT_NE(m.MsgLog().find("row_size: 16\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists("test_debug.txt"));
}

TEST_F(AmiModelFiles, DebugFileGetsEachTextAndALineFeed) {
    TestRxModel m("(Rx (debug (enable true)))", 8);
    m.OpenDebugFile();
    ASSERT_TRUE(m.DebugOn());
    m.Init();
    m.WriteDebug("hello");
    EXPECT_EQ(ReadFile("test_debug.txt"), "row_size: 8\n\nhello\n");
}

TEST_F(AmiModelFiles, DebugFileThatCannotBeOpenedWarns) {
    TestRxModel m("(Rx (debug (enable 1)))");
    m.SetDebugFileName("no_such_dir/debug.txt");
    m.OpenDebugFile();
    EXPECT_FALSE(m.DebugOn());
    const std::string warning = "WARNING: Failed to open debug output file, as requested.\n";
    ASSERT_GE(m.MsgLog().size(), warning.size());
    EXPECT_EQ(m.MsgLog().substr(m.MsgLog().size() - warning.size()), warning);
    m.WriteDebug("ignored");
}

TEST_F(AmiModelFiles, InputAndOutputDumpsHoldOneLinePerSampleAcrossBlocks) {
    {
        TestRxModel m(
            "(Rx (debug (enable True) (dump_getwave_input True) "
            "(dump_getwave_output true)))",
            3, 1e-12);
        m.OpenDebugFile();
        m.Init();
        double wave[3] = {0.5, -0.25, 1.0};
        m.GetWave(wave, 3, nullptr);
        double more[1] = {2.0};
        m.GetWave(more, 1, nullptr);
        double none[1] = {9.0};
        m.GetWave(none, 0, nullptr);
    }  // the dumps are written out when the model closes them
    EXPECT_EQ(ReadFile("test_input.txt"),
              "Time`t`float\tGetWave_Input`V`float\n"
              "  0.000000e+00\t  0.500000\n"
              "  1.000000e-12\t -0.250000\n"
              "  2.000000e-12\t  1.000000\n"
              "  3.000000e-12\t  2.000000\n");
    EXPECT_EQ(ReadFile("test_output.txt"),
              "Time`t`float\tGetWave_Output`V`float\n"
              "  0.000000e+00\t  1.000000\n"
              "  1.000000e-12\t -0.500000\n"
              "  2.000000e-12\t  2.000000\n"
              "  3.000000e-12\t  4.000000\n");
    EXPECT_FALSE(std::filesystem::exists("test_dfe.txt"));
    EXPECT_FALSE(std::filesystem::exists("test_cdr.txt"));
}

TEST_F(AmiModelFiles, DumpSwitchesWithoutEnableOpenNothing) {
    for (const char* params : {"(Rx (debug (dump_getwave_input True) (dump_getwave_output True)))",
                               "(Rx (debug (enable False) (dump_getwave_input True)))",
                               "(Rx (debug (enable TRUE) (dump_getwave_input True)))"}) {
        TestRxModel m(params);
        m.OpenDebugFile();
        m.Init();
        EXPECT_EQ(m.MsgLog().find("WARNING: Failed"), std::string::npos) << params;
    }
    EXPECT_TRUE(std::filesystem::is_empty("."));
}

TEST_F(AmiModelFiles, AdaptationDumpsOnlyWhenTheModelAllowsThem) {
    const char* params =
        "(Rx (debug (enable True) (dump_dfe_adaptation True) (dump_cdr_adaptation True)))";
    {
        TestRxModel m(params, 4, 1e-12, false);
        m.OpenDebugFile();
        m.Init();
    }
    EXPECT_FALSE(std::filesystem::exists("test_dfe.txt"));
    EXPECT_FALSE(std::filesystem::exists("test_cdr.txt"));
    {
        TestRxModel m(params, 4, 1e-12, true);
        m.OpenDebugFile();
        m.Init();
    }
    EXPECT_EQ(ReadFile("test_dfe.txt"), "");
    EXPECT_EQ(ReadFile("test_cdr.txt"), "Clock Period \tLocked\n");
}

TEST_F(AmiModelFiles, DumpThatCannotBeOpenedWarnsAndStaysOff) {
    TestRxModel m(kInputDumpRequest);
    m.SetInputDumpFileName("no_such_dir/in.txt");
    m.OpenDebugFile();
    m.Init();
    EXPECT_NE(m.MsgLog().find("WARNING: Failed to open GetWave() input dump file, as "
                              "requested.\n"),
              std::string::npos);
    double wave[2] = {1, 2};
    EXPECT_EQ(m.GetWave(wave, 2, nullptr), 1);
}

TEST_F(AmiModelFiles, NewBlockLengthReconfiguresWithoutRelogging) {
    TestRxModel m("(Rx)", 8);
    m.Init();
    std::vector<double> wave(8, 0.0);
    m.GetWave(wave.data(), 8, nullptr);
    EXPECT_EQ(m.configureCalls, 1);
    m.GetWave(wave.data(), 5, nullptr);
    EXPECT_EQ(m.configureCalls, 2);
    EXPECT_EQ(m.RowSize(), 5);
    EXPECT_EQ(m.PrevRowSize(), 8);
    const std::string& log = m.MsgLog();
    EXPECT_EQ(log.find("row_size: "), log.rfind("row_size: "));
}

TEST_F(AmiModelFiles, BlockStartTimeRunsOnAcrossBlocks) {
    TestRxModel m("(Rx)", 64, 0.5e-12);
    m.Init();
    std::vector<double> wave(64, 0.0);
    for (int i = 0; i < 3; ++i) m.GetWave(wave.data(), 64, nullptr);
    EXPECT_DOUBLE_EQ(m.BlockStartTime(), 3 * 64 * 0.5e-12);
}

}  // namespace

// Two live instances with debugging on never share a file: the second writes numbered copies
// and says so; once the first is gone its names are free again.
TEST_F(AmiModelFiles, ConcurrentInstancesWriteFilesOfTheirOwn) {
    const char* params = "(Rx (debug (enable True) (dump_getwave_input True)))";
    auto first = std::make_unique<TestRxModel>(params, 1, 1e-12);
    first->OpenDebugFile();
    first->Init();
    TestRxModel second(params, 1, 1e-12);
    second.OpenDebugFile();
    second.Init();
    EXPECT_NE(second.MsgLog().find("INFO: test_debug.txt is in use by another instance of this "
                                   "model; writing test_debug_2.txt instead.\n"),
              std::string::npos)
        << second.MsgLog();
    EXPECT_NE(second.MsgLog().find("writing test_input_2.txt instead.\n"), std::string::npos);
    EXPECT_EQ(first->MsgLog().find("in use"), std::string::npos);

    first->WriteDebug("first");
    second.WriteDebug("second");
    double a[1] = {0.5};
    first->GetWave(a, 1, nullptr);
    double b[1] = {-0.25};
    second.GetWave(b, 1, nullptr);
    first.reset();
    EXPECT_EQ(ReadFile("test_debug.txt"), "row_size: 1\n\nfirst\n");
    EXPECT_EQ(ReadFile("test_input.txt"),
              "Time`t`float\tGetWave_Input`V`float\n  0.000000e+00\t  0.500000\n");

    TestRxModel third(params, 1, 1e-12);
    third.OpenDebugFile();
    third.Init();
    EXPECT_EQ(third.MsgLog().find("in use"), std::string::npos) << third.MsgLog();
    EXPECT_EQ(ReadFile("test_debug_2.txt"), "row_size: 1\n\nsecond\n");
}

TEST(OutputFileNames, NumberGoesBeforeTheExtension) {
    EXPECT_EQ(NumberedFileName("Corvan_V10_Rx_AMI_Debug.txt", 1), "Corvan_V10_Rx_AMI_Debug.txt");
    EXPECT_EQ(NumberedFileName("Corvan_V10_Rx_AMI_Debug.txt", 2), "Corvan_V10_Rx_AMI_Debug_2.txt");
    EXPECT_EQ(NumberedFileName("out.d/dump", 3), "out.d/dump_3");
    EXPECT_EQ(NumberedFileName(".dump", 2), ".dump_2");
}
