// Reading characterisation containers, including short and corrupt files.
#include <gtest/gtest.h>

#include <fstream>

#include "mkdb/rx_container_writer.hpp"
#include "rx/container_reader.hpp"
#include "rx/response_database.hpp"
#include "rxdb_fixtures.hpp"

namespace {

using rxdb_test::taggedDatabase;
using rxdb_test::TempDir;

void writeFile(const std::string& name, const std::vector<unsigned char>& bytes) {
    mkdb::writeBytes(name, bytes);
}

void putU32(std::vector<unsigned char>& bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

TEST(CtleContainer, RoundTripKeepsEveryTableAndDerivesTheStageKeys) {
    TempDir dir;
    const CtleDatabase written = taggedDatabase(3, 2, 4, {"H", "L"}, 4, 4, 2);
    writeFile(dir.file("hg.kvreledata"), mkdb::encodeCtleContainer(written));

    CtleDatabase db;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(LoadCtleDatabase(db, dir.file("hg.kvreledata"), kHighGainPathLabel));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(db.axisA, written.axisA);
    EXPECT_EQ(db.axisB, written.axisB);
    EXPECT_EQ(db.axisC, written.axisC);
    EXPECT_EQ(db.variants, written.variants);
    ASSERT_EQ(db.responses.size(), 3u);
    ASSERT_EQ(db.responses[2][1][3].size(), 2u);
    const ResponseRecord& r = db.responses[2][1][3][1];
    EXPECT_EQ(r.rows, 9u);
    EXPECT_EQ(r.columns, 5u);
    EXPECT_DOUBLE_EQ(r.data[4][3], 2131 + 4 + 0.003);
    ASSERT_EQ(db.curves.size(), 4u);
    ASSERT_EQ(db.curves[3].size(), 2u);
    EXPECT_DOUBLE_EQ(db.curves[3][1].data[1][0], 302.0);
    EXPECT_EQ(db.stageValues, (std::vector<double>{4, 8, 16, 28}));
    EXPECT_EQ(db.formatName, "Corvan XTT CTLE Format");
}

TEST(CtleContainer, StageKeysFollowThePathLabelAndTheCurveRows) {
    TempDir dir;
    writeFile(dir.file("two.kvreledata"),
              mkdb::encodeCtleContainer(taggedDatabase(1, 1, 1, {"H"}, 1, 2, 1)));
    CtleDatabase db;
    ASSERT_TRUE(LoadCtleDatabase(db, dir.file("two.kvreledata"), kHighGainPathLabel));
    EXPECT_EQ(db.stageValues, (std::vector<double>{4, 8}));
    ASSERT_TRUE(LoadCtleDatabase(db, dir.file("two.kvreledata"), kQpiPathLabel));
    EXPECT_EQ(db.stageValues, (std::vector<double>{16}));
    ASSERT_TRUE(LoadCtleDatabase(db, dir.file("two.kvreledata"), kVgaPathLabel));
    EXPECT_TRUE(db.stageValues.empty());
    ASSERT_TRUE(LoadCtleDatabase(db, dir.file("two.kvreledata"), kHighDataRatePathLabel));
    EXPECT_TRUE(db.stageValues.empty());
}

TEST(CtleContainer, UnknownPathLabelReadsNoCurveTable) {
    TempDir dir;
    writeFile(dir.file("plain.kvreledata"),
              mkdb::encodeCtleContainer(taggedDatabase(2, 1, 1, {"H"}, 1, 0, 0), false));
    CtleDatabase db;
    ASSERT_TRUE(LoadCtleDatabase(db, dir.file("plain.kvreledata"), "Some Other Block"));
    EXPECT_EQ(db.responses.size(), 2u);
    EXPECT_TRUE(db.curves.empty());
}

TEST(CtleContainer, VariantNamesToleratesATrailingTerminator) {
    TempDir dir;
    writeFile(dir.file("nul.kvreledata"),
              mkdb::encodeCtleContainer(taggedDatabase(1, 1, 1, {std::string("H\0", 2)}, 1, 1, 1)));
    CtleDatabase db;
    ASSERT_TRUE(LoadCtleDatabase(db, dir.file("nul.kvreledata"), kVgaPathLabel));
    EXPECT_EQ(db.variants, (std::vector<std::string>{"H"}));
}

TEST(CtleContainer, MissingFileIsEmptyAndSilent) {
    TempDir dir;
    CtleDatabase db = taggedDatabase(1, 1, 1, {"H"}, 1, 1, 1);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(LoadCtleDatabase(db, dir.file("absent.kvreledata"), kVgaPathLabel));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(db.empty());
    EXPECT_TRUE(db.axisA.empty());
}

// Every proper prefix of a valid file is a short file: it must be rejected, reported with the
// file name and leave the database empty.
TEST(CtleContainer, EveryTruncationIsTreatedAsMissing) {
    TempDir dir;
    const auto bytes = mkdb::encodeCtleContainer(taggedDatabase(2, 1, 2, {"H"}, 1, 2, 2));
    const std::string name = dir.file("short.kvreledata");
    for (std::size_t cut = 0; cut < bytes.size(); cut += (cut < 200 ? 1 : 37)) {
        writeFile(name, std::vector<unsigned char>(bytes.begin(), bytes.begin() + cut));
        CtleDatabase db;
        testing::internal::CaptureStdout();
        EXPECT_FALSE(LoadCtleDatabase(db, name, kVgaPathLabel)) << "cut at " << cut;
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find("Kavor database file " + name + " is damaged: "), std::string::npos)
            << out;
        EXPECT_TRUE(db.empty());
        EXPECT_TRUE(db.axisA.empty());
    }
}

TEST(CtleContainer, HugeCountsAreRejectedBeforeAnyAllocation) {
    TempDir dir;
    const std::string name = dir.file("corrupt.kvreledata");
    const auto valid = mkdb::encodeCtleContainer(taggedDatabase(1, 1, 1, {"H"}, 1, 1, 1));
    // Layout: nA at 0, one double, nB at 12, one double, nC at 24, one double, nV at 36,
    // the name "H" (u32 1 + 1 byte) at 40, dims at 45, first record rows/cols at 61/65.
    struct Corruption {
        std::size_t offset;
        std::uint32_t value;
        const char* field;
    };
    const Corruption cases[] = {
        {0, 0xFFFFFFFFu, "AC gain keys"},     {12, 0x20000000u, "DC gain keys"},
        {36, 0xFFFFFFF0u, "variant"},         {40, 0x7FFFFFFFu, "variant"},
        {45, 0xFFFFFFFFu, "response"},        {49, 0xFFFFFFFFu, "response"},
        {61, 0xFFFFFFFFu, "response record"}, {65, 0x80000000u, "response record"},
        {65, 0u, "response record"},
    };
    for (const auto& c : cases) {
        auto bytes = valid;
        putU32(bytes, c.offset, c.value);
        writeFile(name, bytes);
        CtleDatabase db;
        testing::internal::CaptureStdout();
        EXPECT_FALSE(LoadCtleDatabase(db, name, kVgaPathLabel)) << "offset " << c.offset;
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find(name), std::string::npos);
        EXPECT_NE(out.find(c.field), std::string::npos) << out;
        EXPECT_TRUE(db.empty());
    }
}

TEST(CtleContainer, AllFourDimensionsMaximalDoNotOverflowTheCheck) {
    TempDir dir;
    const std::string name = dir.file("dims.kvreledata");
    auto bytes = mkdb::encodeCtleContainer(taggedDatabase(1, 1, 1, {"H"}, 1, 1, 1));
    // 2^16 in each dimension multiplies to 2^64, which wraps to 0 in 64 bits.
    for (std::size_t at : {45u, 49u, 53u, 57u}) putU32(bytes, at, 0x10000u);
    writeFile(name, bytes);
    CtleDatabase db;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(LoadCtleDatabase(db, name, kVgaPathLabel));
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(db.empty());
}

TEST(ContainerReader, ReportsWhatWasMissing) {
    TempDir dir;
    const std::string name = dir.file("tiny.bin");
    writeFile(name, {1, 0, 0, 0, 2, 0});
    ContainerReader reader(name);
    ASSERT_TRUE(reader.IsOpen());
    std::uint32_t v = 0;
    EXPECT_TRUE(reader.ReadU32(v, "the first count"));
    EXPECT_EQ(v, 1u);
    EXPECT_FALSE(reader.ReadU32(v, "the second count"));
    EXPECT_EQ(reader.Reason(), "the file ends inside the second count (4 bytes needed, 2 left)");
    // The first failure is kept.
    std::uint8_t b = 0;
    EXPECT_FALSE(reader.ReadU8(b, "a flag"));
    EXPECT_EQ(reader.Reason(), "the file ends inside the second count (4 bytes needed, 2 left)");
}

TEST(ContainerReader, DecodesLittleEndianDoubles) {
    TempDir dir;
    const std::string name = dir.file("dbl.bin");
    // -2.5 = 0xC004000000000000.
    writeFile(name, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x04, 0xC0});
    ContainerReader reader(name);
    std::vector<double> values;
    ASSERT_TRUE(reader.ReadDoubleVector(values, "values"));
    EXPECT_EQ(values, (std::vector<double>{-2.5}));
    EXPECT_EQ(reader.Remaining(), 0u);
}

TEST(ContainerReader, DirectoryIsNotAFile) {
    TempDir dir;
    ContainerReader reader(dir.path().string());
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_EQ(reader.Reason(), "it is not a regular file");
    // A directory under a database name opens as a stream, so the name rule picks it; the
    // loader must then say why nothing was read instead of staying silent.
    const std::string name = dir.file("V10KX_CTLE.kvreledata");
    std::filesystem::create_directory(name);
    CtleDatabase db;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(LoadCtleDatabase(db, name, kHighGainPathLabel));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Kavor database file " + name +
                  " is unreadable: it is not a regular file. It is treated as missing.\n");
    EXPECT_TRUE(db.empty());
}

}  // namespace
