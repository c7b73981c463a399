// The binary FIR map: reading what the writer wrote, refusing truncated and inconsistent maps,
// and the tap limit table built from it.
#include "tx/fir_map_reader.hpp"
#include "tx/tap_limits.hpp"
#include "tx_test_support.hpp"

namespace v10kx_ami_tx {
namespace {

using txtest::TempDir;

class FirMapFileTest : public ::testing::Test {
  protected:
    FirMapFileTest() : db_(mkdb::buildTxDatabase(txtest::DefaultDescription())) {}

    FirMapFile WriteAndRead(const FirMap& map) {
        const auto file = dir_.path() / "map.bin";
        mkdb::writeFirMapFile(file, map);
        return ReadFirMap(file.string());
    }

    TempDir dir_;
    mkdb::TxDatabase db_;
};

TEST_F(FirMapFileTest, RoundTripsEveryItem) {
    FirMap map = db_.firMap;
    map.records[3].reservedLists[1] = {1.5, 2.5};
    map.trailer.jaggedTable = {{1}, {}, {2, 3}};
    map.trailer.reservedReals[2] = 4.25;
    const FirMapFile file = WriteAndRead(map);
    ASSERT_TRUE(file.map) << file.error;
    EXPECT_EQ(file.map->keys, map.keys);
    ASSERT_EQ(file.map->records.size(), 32u);
    const FirMapRecord& r = file.map->records[3];
    EXPECT_EQ(r.key, map.keys[3]);
    EXPECT_EQ(r.numPre, 2u);
    EXPECT_EQ(r.numPost, 2u);
    EXPECT_EQ(r.maxSetting, map.records[3].maxSetting);
    EXPECT_EQ(r.coefA.values, map.records[3].coefA.values);
    EXPECT_EQ(r.coefB.cols, 32u);
    EXPECT_EQ(r.reservedLists[1], (std::vector<double>{1.5, 2.5}));
    EXPECT_EQ(file.map->trailer.jaggedTable, map.trailer.jaggedTable);
    EXPECT_EQ(file.map->trailer.reservedReals[2], 4.25);
    EXPECT_TRUE(CheckFirMap(*file.map).empty());
}

TEST_F(FirMapFileTest, EveryTruncationIsReportedNotOverRead) {
    FirMap map = db_.firMap;
    map.records.resize(2);
    map.keys.resize(2);
    const auto full = dir_.path() / "full.bin";
    mkdb::writeFirMapFile(full, map);
    const std::string bytes = txtest::ReadBytes(full);
    ASSERT_TRUE(ReadFirMap(full.string()).map);
    for (std::size_t len = 0; len < bytes.size(); len += (len < 64 ? 1 : 37)) {
        const auto cut = dir_.path() / "cut.bin";
        txtest::WriteText(cut, bytes.substr(0, len));
        const FirMapFile file = ReadFirMap(cut.string());
        EXPECT_TRUE(file.opened);
        EXPECT_FALSE(file.map) << "length " << len;
        EXPECT_FALSE(file.error.empty());
    }
    EXPECT_FALSE(ReadFirMap((dir_.path() / "none.bin").string()).opened);
}

TEST_F(FirMapFileTest, HugeCountsAreRefusedWithoutAllocating) {
    const auto file = dir_.path() / "huge.bin";
    // 0xFFFFFFFF records, then nothing.
    txtest::WriteText(file, std::string("\xff\xff\xff\xff", 4));
    FirMapFile f = ReadFirMap(file.string());
    EXPECT_FALSE(f.map);
    EXPECT_NE(f.error.find("record keys"), std::string::npos) << f.error;

    // A matrix claiming 65535 x 65535 entries.
    FirMap map = db_.firMap;
    map.records.resize(1);
    map.keys.resize(1);
    const auto good = dir_.path() / "one.bin";
    mkdb::writeFirMapFile(good, map);
    std::string bytes = txtest::ReadBytes(good);
    // coefA's row count sits after N, key, stored key, three words, and the two lists.
    const std::size_t at = 4 + 8 + 8 + 12 + 4 + 5 * 8 + 4;
    bytes.replace(at, 8, std::string("\xff\xff\x00\x00\xff\xff\x00\x00", 8));
    txtest::WriteText(file, bytes);
    f = ReadFirMap(file.string());
    EXPECT_FALSE(f.map);
    EXPECT_NE(f.error.find("record 0"), std::string::npos) << f.error;
}

TEST_F(FirMapFileTest, InvariantViolationsAreNamed) {
    FirMap map = db_.firMap;
    map.records[4].numPost = 3;
    EXPECT_NE(CheckFirMap(map).find("record 4 has 2 pre-cursor and 3 post-cursor"),
              std::string::npos);

    map = db_.firMap;
    map.records.push_back(map.records.back());
    map.keys.push_back(1.0);
    EXPECT_NE(CheckFirMap(map).find("33 records"), std::string::npos);

    map = db_.firMap;
    map.records[0].maxSetting.resize(4);
    EXPECT_NE(CheckFirMap(map).find("fewer than 5 tap limits"), std::string::npos);

    map = db_.firMap;
    map.records[1].maxSetting[4] = -1;
    EXPECT_NE(CheckFirMap(map).find("tap position 4"), std::string::npos);
    map.records[1].maxSetting[4] = std::nan("");
    EXPECT_NE(CheckFirMap(map).find("tap position 4"), std::string::npos);

    map = db_.firMap;
    map.records[2].coefB.rows = 4;
    EXPECT_NE(CheckFirMap(map).find("fewer than 5 coefficient rows"), std::string::npos);

    map.records.clear();
    EXPECT_NE(CheckFirMap(map).find("no records"), std::string::npos);
}

TEST_F(FirMapFileTest, TapLimitsFromTheLastRecordsUpward) {
    // Default device: limits floor(max * (0.25 + 0.75 * (v - 2) / 29)), max 7, 15, 31, 15.
    TapLimitTable table;
    BuildTapLimits(db_.firMap, table);
    EXPECT_EQ(table[31], (std::vector<std::int32_t>{7, 15, 31, 15}));
    EXPECT_EQ(table[2], (std::vector<std::int32_t>{1, 3, 7, 3}));
    EXPECT_EQ(table[0], (std::vector<std::int32_t>{1, 3, 7, 3}));
    // v = 16: fraction 0.25 + 0.75 * 14 / 29 = 0.61207.
    EXPECT_EQ(table[16], (std::vector<std::int32_t>{4, 9, 18, 9}));

    // Three records fill rows 29..31; the other rows keep what they held.
    FirMap small = db_.firMap;
    small.records.erase(small.records.begin(), small.records.end() - 3);
    small.records[0].maxSetting = {9, 8, 0, 7, 6};
    TapLimitTable kept;
    kept[5] = {1, 2, 3, 4};
    BuildTapLimits(small, kept);
    EXPECT_EQ(kept[29], (std::vector<std::int32_t>{9, 8, 7, 6}));
    EXPECT_EQ(kept[31], (std::vector<std::int32_t>{7, 15, 31, 15}));
    EXPECT_EQ(kept[5], (std::vector<std::int32_t>{1, 2, 3, 4}));
    EXPECT_EQ(kept[28], (std::vector<std::int32_t>{0, 0, 0, 0}));
}

}  // namespace
}  // namespace v10kx_ami_tx
