// The DFE map reader: what the database generator writes, and every way a file can be unusable.
#include "rx/dfe_map.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "dfe_test_support.hpp"
#include "rx_test_support.hpp"

namespace {

class DfeMapTest : public ::testing::Test {
  protected:
    std::string Write(const std::vector<unsigned char>& bytes) {
        const std::filesystem::path file = dir.path() / "map.kvrrxdata";
        mkdb::writeBytes(file, bytes);
        return file.string();
    }
    rxtest::TempDir dir;
};

void PutU32(std::vector<unsigned char>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

void PutF64(std::vector<unsigned char>& bytes, std::size_t at, double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, 8);
    for (int i = 0; i < 8; ++i) bytes[at + i] = static_cast<unsigned char>(bits >> (8 * i));
}

}  // namespace

TEST_F(DfeMapTest, FileNamesFollowTheVgaBandwidth) {
    EXPECT_EQ(DfeMapFileName(28), "V10KX_RX_DFE_Map_BW1.kvrrxdata");
    EXPECT_EQ(DfeMapFileName(16), "V10KX_RX_DFE_Map_BW2.kvrrxdata");
    EXPECT_EQ(DfeMapFileName(8), "V10KX_RX_DFE_Map_BW3.kvrrxdata");
    EXPECT_EQ(DfeMapFileName(4), "V10KX_RX_DFE_Map_BW4.kvrrxdata");
    EXPECT_EQ(DfeMapFileName(10), "V10KX_RX_DFE_Map_BW.kvrrxdata");
}

TEST_F(DfeMapTest, LimitsOfTheGeneratedMaps) {
    dfetest::WriteDfeMaps(dir.path());
    const DfeMapLoad load = LoadDfeMap(dir.path().string() + "/", 4);
    ASSERT_TRUE(load.ok) << load.reason;
    EXPECT_EQ(load.fileName, dir.path().string() + "/V10KX_RX_DFE_Map_BW4.kvrrxdata");
    ASSERT_EQ(load.limits.size(), 11u);
    // Codes c carry c * fullScale / (range / 2) volts; the full scales of BW4 are 0.529 (tap 1),
    // 0.635 (taps 2, 3), 0.315, 0.155 (taps 6, 7).
    EXPECT_DOUBLE_EQ(load.limits.upperLimit[0], 0.529);
    EXPECT_DOUBLE_EQ(load.limits.lowerLimit[0], 0.0);  // the first tap is one-sided
    EXPECT_TRUE(load.limits.oneSided[0]);
    EXPECT_EQ(load.limits.codeSpan[0], 127);
    EXPECT_DOUBLE_EQ(load.limits.upperLimit[1], 0.635);
    EXPECT_DOUBLE_EQ(load.limits.lowerLimit[1], -0.635);
    EXPECT_FALSE(load.limits.oneSided[1]);
    EXPECT_EQ(load.limits.codeSpan[1], 254);
    EXPECT_EQ(load.limits.codeSpan[5], 62);
    EXPECT_DOUBLE_EQ(load.limits.upperLimit[5], 0.155);
    EXPECT_TRUE(load.map.flags.empty());

    const DfeMapLoad bw1 = LoadDfeMap(dir.path().string() + "/", 28);
    ASSERT_TRUE(bw1.ok);
    EXPECT_DOUBLE_EQ(bw1.limits.upperLimit[1], 0.159);
}

TEST_F(DfeMapTest, OptionalTrailingFieldsAreKept) {
    std::vector<unsigned char> bytes = mkdb::encodeDfeMap(dfetest::ShippedDfeMap(16));
    bytes.insert(bytes.end(), {1, 0, 7, 0, 0, 0, 8, 0, 0, 0, 9, 0, 0, 0});
    DfeMap map;
    std::string reason;
    ASSERT_TRUE(ReadDfeMap(Write(bytes), map, reason)) << reason;
    EXPECT_EQ(map.flags, (std::vector<std::uint8_t>{1, 0}));
    EXPECT_EQ(map.trailer, (std::vector<std::uint32_t>{7, 8, 9}));
}

TEST_F(DfeMapTest, EveryShortenedFileIsRefusedWithAReason) {
    const std::vector<unsigned char> bytes = mkdb::encodeDfeMap(dfetest::ShippedDfeMap(16));
    // Every cut inside the counts and the code lists, then cuts through the tables.
    std::vector<std::size_t> lengths;
    for (std::size_t length = 0; length < 200; length += 3) lengths.push_back(length);
    for (std::size_t length = 200; length < bytes.size(); length += 1999) lengths.push_back(length);
    lengths.push_back(bytes.size() - 1);
    for (std::size_t length : lengths) {
        DfeMap map;
        std::string reason;
        const std::vector<unsigned char> part(bytes.begin(), bytes.begin() + length);
        EXPECT_FALSE(ReadDfeMap(Write(part), map, reason)) << length;
        EXPECT_FALSE(reason.empty()) << length;
    }
    DfeMap map;
    std::string reason;
    EXPECT_FALSE(ReadDfeMap((dir.path() / "absent.kvrrxdata").string(), map, reason));
    EXPECT_EQ(reason, "the file cannot be found");
}

TEST_F(DfeMapTest, CorruptOrInconsistentMapsAreRefused) {
    const std::vector<unsigned char> good = mkdb::encodeDfeMap(dfetest::ShippedDfeMap(16));
    // Layout: tapCount, second count, then n = 11 and 11 highest codes at byte 8.
    const std::size_t highest = 12;
    const std::size_t lowestCount = highest + 11 * 8;
    const std::size_t lowest = lowestCount + 4;
    const std::size_t positiveTable = lowest + 11 * 8 + 8;
    auto check = [&](std::vector<unsigned char> bytes, const std::string& reasonPart) {
        DfeMap map;
        std::string reason;
        EXPECT_FALSE(ReadDfeMap(Write(bytes), map, reason)) << reasonPart;
        EXPECT_NE(reason.find(reasonPart), std::string::npos) << reason;
    };
    std::vector<unsigned char> b = good;
    PutU32(b, 8, 0xFFFFFFFFu);  // a code list far longer than the file
    check(b, "bytes remain");
    b = good;
    PutU32(b, 0, 10);  // tap count disagrees with the lists
    check(b, "do not match its tap count 10");
    b = good;
    PutU32(b, 0, 0);
    check(b, "no taps");
    b = good;
    PutF64(b, highest + 8, 128);  // tap 2's highest code past its 128-entry table
    check(b, "tap 2: highest code");
    b = good;
    PutF64(b, lowest + 16, -2.5);  // tap 3's lowest code is no code at all
    check(b, "tap 3: lowest code");
    b = good;
    PutF64(b, positiveTable + (128 + 127) * 8, std::numeric_limits<double>::quiet_NaN());
    check(b, "tap 2: the voltages of its end codes");
}
