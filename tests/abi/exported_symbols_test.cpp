// Each model library exports the five AMI_ functions and nothing else of its own, so that two
// libraries in one simulator process never bind to each other's internals.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "ami_library.hpp"

namespace {

// Defined dynamic symbols, name -> nm type letter.
std::map<std::string, char> DefinedDynamicSymbols(const std::string& library) {
    std::map<std::string, char> symbols;
    const std::string command = std::string(AMI_NM) + " -D --defined-only '" + library + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return symbols;
    }
    char line[4096];
    while (fgets(line, sizeof line, pipe)) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name) symbols[name] = type.at(0);
    }
    EXPECT_EQ(pclose(pipe), 0) << command;
    return symbols;
}

void ExpectOnlyTheFiveEntryPoints(const std::string& library) {
    const std::set<std::string> linkerMarkers{"_init", "_fini", "__bss_start", "_edata", "_end"};
    std::map<std::string, char> ours;
    for (const auto& [name, type] : DefinedDynamicSymbols(library)) {
        if (!linkerMarkers.count(name)) ours[name] = type;
    }
    const std::map<std::string, char> expected{{"AMI_Init", 'T'},
                                               {"AMI_GetWave", 'T'},
                                               {"AMI_Close", 'T'},
                                               {"AMI_Resolve", 'T'},
                                               {"AMI_Resolve_Close", 'T'}};
    EXPECT_EQ(ours, expected) << library;
}

[[maybe_unused]] void ExpectCloseOfNullHandle(const std::string& library) {
    AmiLibrary lib(library);
    ASSERT_TRUE(lib.Loaded());
    EXPECT_EQ(lib.Close(nullptr), 1);
}

TEST(ExportedSymbols, TestModelLibraries) {
    ExpectOnlyTheFiveEntryPoints(AMI_TEST_TX_LIB);
    ExpectOnlyTheFiveEntryPoints(AMI_TEST_RX_LIB);
}

#ifdef V10KX_TX_LIB
TEST(ExportedSymbols, TransmitterLibrary) { ExpectOnlyTheFiveEntryPoints(V10KX_TX_LIB); }

TEST(TransmitterLibrary, UnparsableStringFailsInitWithTheParseText) {
    AmiLibrary lib(V10KX_TX_LIB);
    ASSERT_TRUE(lib.Loaded());
    InitCall call(lib, "(v10kx_ami_tx (Vod 31)");
    EXPECT_EQ(call.result, 0);
    EXPECT_EQ(call.Msg().rfind("Parse failed at: ", 0), 0u) << call.Msg();
    ExpectCloseOfNullHandle(V10KX_TX_LIB);
}
#endif

// Output of a command, one string.
std::string CommandOutput(const std::string& command) {
    std::string text;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return text;
    char line[4096];
    while (fgets(line, sizeof line, pipe)) text += line;
    pclose(pipe);
    return text;
}

#ifdef V10KX_RX_LIB
TEST(ExportedSymbols, ReceiverLibrary) { ExpectOnlyTheFiveEntryPoints(V10KX_RX_LIB); }

// The receiver's GSL is a private copy: no GSL symbol in its dynamic table, defined or wanted,
// and no shared GSL among its dependencies, so its error handler is its own.
TEST(ExportedSymbols, ReceiverCarriesAPrivateGsl) {
    const std::string symbols = CommandOutput(std::string(AMI_NM) + " -D '" + V10KX_RX_LIB + "'");
    ASSERT_FALSE(symbols.empty());
    EXPECT_EQ(symbols.find(" gsl_"), std::string::npos) << symbols;
    const std::string dynamic =
        CommandOutput(std::string(AMI_READELF) + " -d '" + V10KX_RX_LIB + "'");
    ASSERT_NE(dynamic.find("NEEDED"), std::string::npos);
    EXPECT_EQ(dynamic.find("[libgsl.so"), std::string::npos) << dynamic;
}

TEST(ReceiverLibrary, ResolveDoesNothingAndNullCloseSucceeds) {
    AmiLibrary lib(V10KX_RX_LIB);
    ASSERT_TRUE(lib.Loaded());
    char sentinel[] = "sentinel";
    char* out = sentinel;
    EXPECT_EQ(lib.Resolve(nullptr, "(v10kx_ami_rx)", &out), 1);
    EXPECT_EQ(out, sentinel);
    ExpectCloseOfNullHandle(V10KX_RX_LIB);
}
#endif

}  // namespace
