// The C interface through dlopen: results, strings handed out, and that nothing a simulator
// passes in, and nothing a model throws, takes the process down.
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "ami_library.hpp"

namespace {

const std::string kInitFailed = "ERROR: model initialisation failed: ";

class EntryPoints : public ::testing::TestWithParam<const char*> {
  protected:
    AmiLibrary lib{GetParam()};
    void SetUp() override { ASSERT_TRUE(lib.Loaded()); }
};

INSTANTIATE_TEST_SUITE_P(TestModels, EntryPoints,
                         ::testing::Values(AMI_TEST_TX_LIB, AMI_TEST_RX_LIB), [](const auto& info) {
                             return std::string(info.index == 0 ? "TxLike" : "RxLike");
                         });

TEST_P(EntryPoints, CloseOfNullHandleReturns1) { EXPECT_EQ(lib.Close(nullptr), 1); }

TEST_P(EntryPoints, SuccessfulInitHandsOutLogAndParameters) {
    InitCall call(lib, "(Test (Vod 31))");
    EXPECT_EQ(call.result, 1);
    ASSERT_NE(call.handle, nullptr);
    EXPECT_NE(call.Msg().find("Model Identification: test "), std::string::npos);
    ASSERT_NE(call.paramsOut, nullptr);
    EXPECT_EQ(std::string(call.paramsOut).rfind("(Test\n", 0), 0u);
}

TEST_P(EntryPoints, EveryExceptionBecomesAFailedInitWithItsText) {
    const std::pair<const char*, std::string> cases[] = {
        {"ami", "Unrecognized parameter value: throw = ami"},
        {"ts", kInitFailed + "Received bad class initializers: test filter"},
        {"std", kInitFailed + "test runtime error"},
        {"alloc", kInitFailed + "out of memory"},
        {"int", kInitFailed + "unknown exception"},
    };
    for (const auto& [kind, text] : cases) {
        InitCall call(lib, std::string("(Test (throw ") + kind + "))");
        EXPECT_EQ(call.result, 0) << kind;
        EXPECT_EQ(call.Msg(), text);
        EXPECT_EQ(call.paramsOut, nullptr) << kind;  // not written on failure
        EXPECT_NE(call.handle, nullptr) << kind;     // AMI_Close frees what was made
    }
}

TEST_P(EntryPoints, GetWaveHandsOutAFreshParameterStringEachCall) {
    InitCall call(lib, "(Test)");
    ASSERT_EQ(call.result, 1);
    std::vector<double> wave(16, 0.25), clocks(17, 0.0);
    char* previous = call.paramsOut;
    for (int i = 1; i <= 3; ++i) {
        char* out = nullptr;
        EXPECT_EQ(lib.GetWave(wave.data(), 16, clocks.data(), &out, call.handle), 1);
        ASSERT_NE(out, nullptr);
        EXPECT_NE(out, previous);  // the old array is freed; this one is new
        EXPECT_EQ(std::string(out).rfind("(Test\n", 0), 0u);
        previous = out;
    }
}

TEST_P(EntryPoints, ExceptionInGetWaveReturns0AndKeepsParametersValid) {
    for (const char* kind : {"ami", "ts", "std", "alloc", "int"}) {
        InitCall call(lib, std::string("(Test (getwave_throw ") + kind + "))");
        ASSERT_EQ(call.result, 1) << kind;
        std::vector<double> wave(8, 1.0), clocks(9, 0.0);
        char* out = nullptr;
        EXPECT_EQ(lib.GetWave(wave.data(), 8, clocks.data(), &out, call.handle), 0) << kind;
        ASSERT_NE(out, nullptr) << kind;
        EXPECT_EQ(std::string(out).rfind("(Test", 0), 0u);
    }
}

TEST_P(EntryPoints, NonsenseArgumentsAreRefusedBeforeAnythingIsTouched) {
    {
        InitCall call(lib, "(Test)", -1);
        EXPECT_EQ(call.result, 0);
        EXPECT_EQ(call.Msg(), "ERROR: AMI_Init received a negative row_size: -1");
    }
    {
        InitCall call(lib, "(Test)", 8, -2);
        EXPECT_EQ(call.result, 0);
        EXPECT_EQ(call.Msg(), "ERROR: AMI_Init received a negative aggressors count: -2");
    }
    {
        InitCall call(lib, "(Test)", 8, 0, false);
        EXPECT_EQ(call.result, 0);
        EXPECT_EQ(call.Msg(), "ERROR: AMI_Init received no impulse_matrix for row_size 8");
    }
    char* msg = nullptr;
    char params[] = "(Test)";
    double impulse[4] = {1, 0, 0, 0};
    EXPECT_EQ(lib.Init(impulse, 4, 0, 1e-12, 1e-10, params, nullptr, nullptr, &msg), 0);
    EXPECT_STREQ(msg, "ERROR: AMI_Init received no place to store its memory handle.");

    InitCall call(lib, "(Test)");
    ASSERT_EQ(call.result, 1);
    double wave[4] = {1, 2, 3, 4};
    double clocks[5] = {};
    char sentinel[] = "sentinel";
    char* out = sentinel;
    EXPECT_EQ(lib.GetWave(wave, 4, clocks, &out, nullptr), 0);
    EXPECT_EQ(lib.GetWave(wave, -4, clocks, &out, call.handle), 0);
    EXPECT_EQ(lib.GetWave(nullptr, 4, clocks, &out, call.handle), 0);
    EXPECT_EQ(out, sentinel);
    EXPECT_EQ(wave[0], 1.0);
    // A block of no samples is legitimate.
    EXPECT_EQ(lib.GetWave(wave, 0, clocks, &out, call.handle), 1);
}

TEST_P(EntryPoints, GetWaveAfterFailedInitReturns0) {
    InitCall call(lib, "(Test (throw std))");
    ASSERT_EQ(call.result, 0);
    double wave[4] = {1, 2, 3, 4};
    double clocks[5] = {};
    EXPECT_EQ(lib.GetWave(wave, 4, clocks, nullptr, call.handle), 0);
}

TEST_P(EntryPoints, MissingClockArrayIsNotWrittenThrough) {
    InitCall call(lib, "(Test)");
    ASSERT_EQ(call.result, 1);
    std::vector<double> wave(13, 0.5);
    EXPECT_EQ(lib.GetWave(wave.data(), 13, nullptr, nullptr, call.handle), 1);
    EXPECT_EQ(wave[12], 1.0);
}

TEST(TxLike, ParseFailureFailsInitWithTheParseText) {
    AmiLibrary lib(AMI_TEST_TX_LIB);
    ASSERT_TRUE(lib.Loaded());
    InitCall call(lib, "(Test (Vod 31))x");
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.Msg(), "Parse failed at: x\nin: (Test (Vod 31))x");
    EXPECT_EQ(call.paramsOut, nullptr);
}

TEST(TxLike, InitAndGetWaveFilterInPlaceAsOneStream) {
    AmiLibrary lib(AMI_TEST_TX_LIB);
    ASSERT_TRUE(lib.Loaded());
    InitCall call(lib, "(Test)", 4);
    ASSERT_EQ(call.result, 1);
    EXPECT_EQ(call.impulse, (std::vector<double>{2, 0, 0, 0}));
    EXPECT_EQ(call.Msg(), "Model Identification: test transmitter\n\n");
    EXPECT_STREQ(call.paramsOut, "(Test\n  (calls 0)\n)\n");
    double wave[3] = {1, -1, 0.5};
    double clocks[4] = {};
    char* out = nullptr;
    EXPECT_EQ(lib.GetWave(wave, 3, clocks, &out, call.handle), 1);
    EXPECT_EQ(wave[1], -2.0);
    EXPECT_STREQ(out, "(Test\n  (calls 1)\n)\n");
}

TEST(TxLike, ResolveReturnsAStringTheCallerFrees) {
    AmiLibrary lib(AMI_TEST_TX_LIB);
    ASSERT_TRUE(lib.Loaded());
    char* out = nullptr;
    EXPECT_EQ(lib.Resolve(nullptr, "(Tx (rterm 50))", &out), 1);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out, "(Tx (length 15))");
    EXPECT_EQ(lib.ResolveClose(out), 1);
    EXPECT_EQ(lib.ResolveClose(nullptr), 1);
}

TEST(TxLike, ResolveFailureReturns0AndWritesNothing) {
    AmiLibrary lib(AMI_TEST_TX_LIB);
    ASSERT_TRUE(lib.Loaded());
    char sentinel[] = "sentinel";
    for (const char* in : {"(Tx (rterm 50)", "(Tx (throw std))", "(Tx (throw ami))",
                           "(Tx (throw alloc))", "(Tx (throw int))"}) {
        char* out = sentinel;
        EXPECT_EQ(lib.Resolve(nullptr, in, &out), 0) << in;
        EXPECT_EQ(out, sentinel) << in;
    }
    char* out = sentinel;
    EXPECT_EQ(lib.Resolve(nullptr, nullptr, &out), 0);
    EXPECT_EQ(out, sentinel);
}

TEST(RxLike, UnparsableStringStillInitialises) {
    AmiLibrary lib(AMI_TEST_RX_LIB);
    ASSERT_TRUE(lib.Loaded());
    InitCall call(lib, "(Test (a 1 (b 2)))");
    EXPECT_EQ(call.result, 1);
    EXPECT_EQ(call.Msg().rfind("WARNING: Failed to parse input AMI parameter string", 0), 0u);
}

TEST(RxLike, ResolveDoesNothing) {
    AmiLibrary lib(AMI_TEST_RX_LIB);
    ASSERT_TRUE(lib.Loaded());
    char sentinel[] = "sentinel";
    char* out = sentinel;
    EXPECT_EQ(lib.Resolve(nullptr, "(Rx)", &out), 1);
    EXPECT_EQ(out, sentinel);
    EXPECT_EQ(lib.ResolveClose(sentinel), 1);
}

TEST(RxLike, ClockTimesEndWithMinusOne) {
    AmiLibrary lib(AMI_TEST_RX_LIB);
    ASSERT_TRUE(lib.Loaded());
    InitCall call(lib, "(Test)", 8);
    ASSERT_EQ(call.result, 1);
    std::vector<double> wave(8, 1.0), clocks(9, 0.0);
    ASSERT_EQ(lib.GetWave(wave.data(), 8, clocks.data(), nullptr, call.handle), 1);
    EXPECT_DOUBLE_EQ(clocks[1], 4e-12);
    EXPECT_EQ(clocks[2], -1.0);
}

std::string CurrentPathLine(const std::string& libraryPath) {
    AmiLibrary lib(libraryPath);
    if (!lib.Loaded()) return "<not loaded>";
    InitCall call(lib, "(Test (Database_Path currentpath))");
    const std::string msg = call.Msg();
    const auto at = msg.find("Use current path [");
    if (at == std::string::npos) return msg;
    return msg.substr(at, msg.find('\n', at) - at);
}

TEST(ModuleDirectory, NamesTheDirectoryOfTheLibraryFile) {
    const std::filesystem::path lib = AMI_TEST_RX_LIB;
    EXPECT_EQ(CurrentPathLine(lib.string()), "Use current path [" + lib.parent_path().string() +
                                                 "] for accessing database files.");
}

TEST(ModuleDirectory, LibraryLoadedByARelativeNameStillGivesAnAbsoluteDirectory) {
    const auto previous = std::filesystem::current_path();
    char pattern[] = "/tmp/ami_abi_test_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path dir = pattern;
    std::filesystem::copy_file(AMI_TEST_RX_LIB, dir / "copy_of_model.so");
    std::filesystem::current_path(dir);
    const std::string line = CurrentPathLine("./copy_of_model.so");
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(dir);
    EXPECT_EQ(line, "Use current path [" + dir.string() + "] for accessing database files.");
}

}  // namespace
