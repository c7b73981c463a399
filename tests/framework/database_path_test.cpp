// Settling the database directory: which lines are logged and which directory wins.
#include "framework/database_path.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "framework/ami_tree.hpp"

namespace {

const std::string kModuleDir = "/opt/kit";
const std::string kNoDll =
    "INFO: \"DLL_Path\" parameter does not exist. Use \"Database_Path\" parameter for data file "
    "accesses.\n";
const std::string kDllNopath =
    "INFO: DLL_Path is not specified (DLL_Path = \"nopath\"). Use \"Database_Path\" parameter "
    "for data file accesses.\n";
const std::string kFallback =
    "WARNING: No path received from DLL_Path or Database_Path. Assume current path for device "
    "database access. If error occurs, please set DLL_Path or Database_Path to where the device "
    "database is located.\n";

struct Resolution {
    std::string log;
    std::string dataDir;  // with the trailing "/" the models append
    bool fromModuleDir;
};

Resolution Resolve(const std::string& params, const std::string& moduleDir = kModuleDir) {
    AmiParamTree tree(params);
    std::string log = "before\n";
    const DataDirResult r = ResolveDataDir(tree, log, moduleDir);
    EXPECT_EQ(log.rfind("before\n", 0), 0u);  // only ever appended to
    return {log.substr(7), WithTrailingSlash(r.dataDir), r.fromModuleDir};
}

TEST(ResolveDataDir, NeitherParameterFallsBackToModuleDirectory) {
    const Resolution r = Resolve("(Rx (Vod 1))");
    EXPECT_EQ(r.log, kNoDll + kFallback);
    EXPECT_EQ(r.dataDir, "/opt/kit/");
    EXPECT_TRUE(r.fromModuleDir);
}

TEST(ResolveDataDir, CurrentPathSpellingsUseModuleDirectory) {
    for (const char* spelling : {"currentpath", "CurrentPath", "Currentpath"}) {
        const Resolution r =
            Resolve(std::string("(Rx (DLL_Path nopath) (Database_Path ") + spelling + "))");
        EXPECT_EQ(r.log, kDllNopath +
                             "INFO from Database_Path: Use current path [/opt/kit] for accessing "
                             "database files.\n");
        EXPECT_EQ(r.dataDir, "/opt/kit/");
        EXPECT_TRUE(r.fromModuleDir);
    }
}

TEST(ResolveDataDir, ExplicitDatabasePathWinsOverDllPath) {
    const Resolution r = Resolve("(Tx (DLL_Path C:/sim) (Database_Path D:/data))");
    EXPECT_EQ(r.log,
              "INFO: Path: `C:/sim' was specified by DLL_Path.\n"
              "INFO from Database_Path: Path: `D:/data' was specified.\n");
    EXPECT_EQ(r.dataDir, "D:/data/");
    EXPECT_FALSE(r.fromModuleDir);
}

TEST(ResolveDataDir, SlashIsAppendedEvenAfterASeparator) {
    EXPECT_EQ(Resolve("(Tx (Database_Path D:/data/))").dataDir, "D:/data//");
    EXPECT_EQ(Resolve("(Tx (Database_Path \"C:\\data\\\"))").dataDir, "C:\\data\\/");
}

TEST(ResolveDataDir, DatabasePathNamingDllPathStillFallsBack) {
    const Resolution r = Resolve("(Tx (DLL_Path /sim/models) (Database_Path DLL_Path))");
    EXPECT_EQ(r.log,
              "INFO: Path: `/sim/models' was specified by DLL_Path.\n"
              "INFO from Database_Path: Use DLL_Path info for database access.\n" +
                  kFallback);
    EXPECT_EQ(r.dataDir, "/opt/kit/");
}

TEST(ResolveDataDir, DatabasePathNopathFallsBackSilently) {
    const Resolution r = Resolve("(Tx (DLL_Path nopath) (Database_Path nopath))");
    EXPECT_EQ(r.log, kDllNopath + kFallback);
    EXPECT_EQ(r.dataDir, "/opt/kit/");
}

TEST(ResolveDataDir, OtherLetterCaseIsAnExplicitDirectory) {
    const Resolution r = Resolve("(Tx (Database_Path CURRENTPATH))");
    EXPECT_EQ(r.log, kNoDll + "INFO from Database_Path: Path: `CURRENTPATH' was specified.\n");
    EXPECT_EQ(r.dataDir, "CURRENTPATH/");
}

TEST(ResolveDataDir, QuotedValueKeepsInnerBlanks) {
    const Resolution r = Resolve("(Tx (Database_Path \"C:/my data\"))");
    EXPECT_EQ(r.dataDir, "C:/my data/");
    EXPECT_EQ(r.log, kNoDll + "INFO from Database_Path: Path: `C:/my data' was specified.\n");
}

TEST(ResolveDataDir, EmptyModuleDirectoryStaysEmpty) {
    const Resolution r = Resolve("(Rx)", "");
    EXPECT_EQ(r.dataDir, "");
    EXPECT_TRUE(r.fromModuleDir);
}

TEST(DirectoryPart, BothSeparatorsBecomeSlashAndFileNameIsDropped) {
    EXPECT_EQ(DirectoryPart("C:\\models\\rx\\lib.dll"), "C:/models/rx");
    EXPECT_EQ(DirectoryPart("/usr/lib/v10kx.so"), "/usr/lib");
    EXPECT_EQ(DirectoryPart("/a//b\\/lib.so"), "/a//b/");
    EXPECT_EQ(DirectoryPart("/lib.so"), "");
}

TEST(ModuleDirectory, IsAnAbsoluteDirectoryThatExists) {
    const std::string dir = ModuleDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.front(), '/');
    EXPECT_NE(dir.back(), '/');
    EXPECT_TRUE(std::filesystem::is_directory(dir)) << dir;
}

}  // namespace
