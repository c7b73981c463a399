// Corner and supply-version file names of the characterisation files.
#include <gtest/gtest.h>

#include <fstream>

#include "rx/response_database.hpp"
#include "rxdb_fixtures.hpp"

namespace {

using rxdb_test::TempDir;

void touch(const std::string& name) { std::ofstream(name, std::ios::binary) << 'x'; }

std::string missingLine(const std::string& name) {
    return "Kavor database file " + name + " does not exist. Please check your installation.\n";
}

TEST(ResponseFileNames, SupplyAndCornerSuffixesGoBeforeTheExtension) {
    TempDir dir;
    const std::string base = dir.file("V10KX_CTLE.kvreledata");
    for (const char* name :
         {"V10KX_CTLE_V1p1_F.kvreledata", "V10KX_CTLE_V1p0_S.kvreledata", "V10KX_CTLE.kvreledata",
          "V10KX_CTLE_V1p0.kvreledata", "V10KX_CTLE_F.kvreledata"}) {
        touch(dir.file(name));
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(MakeVersionedFileName(base, kReceiverFamily, 10e9, "Fast", "1.1 V"),
              dir.file("V10KX_CTLE_V1p1_F.kvreledata"));
    EXPECT_EQ(ResolvedSupplyLabel(), "1.1 V");
    EXPECT_EQ(MakeVersionedFileName(base, kReceiverFamily, 10e9, "Slow", "1.0 V"),
              dir.file("V10KX_CTLE_V1p0_S.kvreledata"));
    EXPECT_EQ(ResolvedSupplyLabel(), "1.0 V");
    // Typical keeps the plain "." and 0.9 V adds nothing.
    EXPECT_EQ(MakeVersionedFileName(base, kReceiverFamily, 10e9, "Typical", "0.9 V"), base);
    EXPECT_EQ(ResolvedSupplyLabel(), "0.9 V");
    // An unknown supply text is the nominal supply; an unknown corner is typical.
    EXPECT_EQ(MakeVersionedFileName(base, kReceiverFamily, 10e9, "FF", "1.2 V"), base);
    EXPECT_EQ(ResolvedSupplyLabel(), "0.9 V");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(ResponseFileNames, DefaultSupplyFollowsTheBitRate) {
    TempDir dir;
    const std::string base = dir.file("V10KX_VGA_Response.kvreledata");
    for (const char* name : {"V10KX_VGA_Response.kvreledata", "V10KX_VGA_Response_V1p0.kvreledata",
                             "V10KX_VGA_Response_V1p1.kvreledata"}) {
        touch(dir.file(name));
    }
    struct Case {
        double bitRate;
        const char* file;
        const char* label;
    };
    const Case cases[] = {
        {12e9, "V10KX_VGA_Response_V1p0.kvreledata", "1.0 V"},
        {10.3125e9, "V10KX_VGA_Response.kvreledata", "0.9 V"},
        {15e9, "V10KX_VGA_Response_V1p1.kvreledata", "1.1 V"},
        {14.2e9, "V10KX_VGA_Response_V1p0.kvreledata", "1.0 V"},
        {10.3126e9, "V10KX_VGA_Response_V1p0.kvreledata", "1.0 V"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MakeVersionedFileName(base, kReceiverFamily, c.bitRate, "Typical", "Default"),
                  dir.file(c.file))
            << c.bitRate;
        EXPECT_EQ(ResolvedSupplyLabel(), c.label) << c.bitRate;
    }
}

TEST(ResponseFileNames, CornerNameNeverCarriesAVersion) {
    TempDir dir;
    const std::string base = dir.file("V10KX_CTLE3.kvreledata");
    touch(dir.file("V10KX_CTLE3_S.kvreledata"));
    touch(dir.file("V10KX_CTLE3_V1p1_S.kvreledata"));
    EXPECT_EQ(MakeCornerFileName(base, kReceiverFamily, "Slow", "1.1 V"),
              dir.file("V10KX_CTLE3_S.kvreledata"));
}

TEST(ResponseFileNames, MissingVariantIsReportedAndThePlainNameReturned) {
    TempDir dir;
    const std::string base = dir.file("V10KX_CTLE2.kvreledata");
    testing::internal::CaptureStdout();
    EXPECT_EQ(MakeVersionedFileName(base, kReceiverFamily, 16e9, "Fast", "Default"), base);
    EXPECT_EQ(MakeCornerFileName(base, kReceiverFamily, "Typical", "1.0 V"), base);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              missingLine(dir.file("V10KX_CTLE2_V1p1_F.kvreledata")) + missingLine(base));
}

TEST(ResponseFileNames, OnlyTheLastDotStartsTheExtension) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "kit.v2");
    const std::string base = dir.file("kit.v2/V10KX_CTLE.kvreledata");
    touch(dir.file("kit.v2/V10KX_CTLE_V1p0_F.kvreledata"));
    EXPECT_EQ(MakeVersionedFileName(base, kReceiverFamily, 10e9, "Fast", "1.0 V"),
              dir.file("kit.v2/V10KX_CTLE_V1p0_F.kvreledata"));
}

}  // namespace
