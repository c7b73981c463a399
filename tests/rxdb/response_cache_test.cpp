// The process-wide cache: when files are loaded, reused, reloaded and released.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "mkdb/rx_container_writer.hpp"
#include "rx/response_database.hpp"
#include "rxdb_fixtures.hpp"

namespace {

using rxdb_test::taggedDatabase;
using rxdb_test::TempDir;

class ResponseCacheTest : public testing::Test {
  protected:
    void SetUp() override {
        ReleaseResponseCache();
        // Distinguishable contents: the tag of the single AC key tells which file answered.
        write("V10KX_CTLE.kvreledata", taggedHighGain(0));
        write("V10KX_CTLE_V1p0_F.kvreledata", taggedHighGain(5));
        write("V10KX_CTLE2.kvreledata", taggedDatabase(16, 1, 4, {"H"}, 1, 4, 11));
        write("V10KX_CTLE3.kvreledata", taggedDatabase(1, 1, 1, {"0p25V"}, 4, 1, 1));
        write("V10KX_VGA_Response.kvreledata", taggedDatabase(8, 1, 4, {"H"}, 1, 4, 8));
        files.highGain = dir.file(kHighGainCtleFile);
        files.highDataRate = dir.file(kHighDataRateCtleFile);
        files.qpi = dir.file(kQpiCtleFile);
        files.vga = dir.file(kVgaResponseFile);
        files.corner = "Typical";
        files.supplyLabel = "0.9 V";
        files.supplySetting = "0.9 V";
        SetResponseDatabaseFiles(files);
    }
    void TearDown() override {
        ReleaseResponseCache();
        SetResponseDatabaseFiles(ResponseDatabaseFiles{});
    }

    // One stored AC gain whose responses all start with `tag` thousands.
    static CtleDatabase taggedHighGain(int shift) {
        CtleDatabase db = taggedDatabase(1 + shift, 5, 4, {"H"}, 4, 4, 2);
        db.responses.erase(db.responses.begin(), db.responses.begin() + shift);
        db.axisA = {0};
        return db;
    }
    void write(const std::string& name, const CtleDatabase& db) {
        mkdb::writeBytes(dir.file(name), mkdb::encodeCtleContainer(db));
    }
    static ResponseRequest vgaRequest(double gain) {
        ResponseRequest r;
        r.acGain = gain;
        r.bandwidth = 16;
        r.variant = "H";
        r.path = kVgaPath;
        r.bitRate = 10e9;
        return r;
    }
    static ResponseRequest highGainRequest() {
        ResponseRequest r;
        r.acGain = 0;
        r.dcGain = 1;
        r.bandwidth = 8;
        r.variant = "H";
        r.path = "High-Gain, Low BW";
        r.bitRate = 10e9;
        return r;
    }
    void removeAllFiles() {
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
            std::filesystem::remove(e.path());
        }
    }

    TempDir dir;
    ResponseDatabaseFiles files;
};

TEST_F(ResponseCacheTest, FirstLookupLoadsAllFourFilesAndStoresTheKey) {
    ResponseSelection out;
    ASSERT_TRUE(LookupResponse(out, vgaRequest(3)));
    EXPECT_DOUBLE_EQ(out.response.data[0][0], 3020.0);
    ResponseCache& cache = TheResponseCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    EXPECT_TRUE(cache.allLoaded);
    EXPECT_EQ(cache.slotLoaded, (std::array<bool, 4>{true, true, true, true}));
    EXPECT_EQ(cache.keyFamily, kReceiverFamily);
    EXPECT_EQ(cache.keyPath, kVgaPath);
    EXPECT_EQ(cache.keyCorner, "Typical");
    EXPECT_EQ(cache.keySupply, "0.9 V");
}

TEST_F(ResponseCacheTest, OtherPathReusesTheFilesButRecomputesTheFits) {
    ResponseSelection out;
    ASSERT_TRUE(LookupResponse(out, vgaRequest(3)));
    removeAllFiles();  // whatever answers now comes from memory
    {
        ResponseCache& cache = TheResponseCache();
        std::lock_guard<std::mutex> lock(cache.mutex);
        cache.fits.fitA = {-1.0};  // marks the cached fit of the VGA curve cell
    }
    ResponseSelection again;
    ASSERT_TRUE(LookupResponse(again, vgaRequest(3)));
    EXPECT_EQ(again.fitA, (std::vector<double>{-1.0}));  // same path and cell: reused

    // Low-gain path, curve cell (row 2, column 10): a different path empties the fit cache.
    ResponseRequest lg = vgaRequest(2);
    lg.path = kLowGainPath;
    ResponseSelection low;
    ASSERT_TRUE(LookupResponse(low, lg));
    EXPECT_DOUBLE_EQ(low.response.data[0][0], 2020.0);
    EXPECT_NE(low.fitA, (std::vector<double>{-1.0}));
    ResponseCache& cache = TheResponseCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    EXPECT_EQ(cache.keyPath, kLowGainPath);
    EXPECT_EQ(cache.fits.fitRow, 2);
    EXPECT_EQ(cache.fits.fitCol, 10);
}

TEST_F(ResponseCacheTest, CornerOrSupplyChangeReloadsUnderTheNewNames) {
    ResponseSelection out;
    ASSERT_TRUE(LookupResponse(out, highGainRequest()));
    EXPECT_DOUBLE_EQ(out.response.data[0][0], 110.0);

    files.corner = "Fast";
    files.supplyLabel = "1.0 V";
    files.supplySetting = "1.0 V";
    SetResponseDatabaseFiles(files);
    testing::internal::CaptureStdout();
    ResponseSelection fast;
    ASSERT_TRUE(LookupResponse(fast, highGainRequest()));
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_DOUBLE_EQ(fast.response.data[0][0], 5110.0);  // the _V1p0_F file answered
    // The other three files have no Fast/1.0 V variant: reported, plain names used.
    EXPECT_NE(printed.find("V10KX_VGA_Response_V1p0_F.kvreledata does not exist"),
              std::string::npos);
    EXPECT_NE(printed.find("V10KX_CTLE3_F.kvreledata does not exist"), std::string::npos);
    ResponseSelection vga;
    EXPECT_TRUE(LookupResponse(vga, vgaRequest(1)));
}

TEST_F(ResponseCacheTest, FamilyChangeReloads) {
    ResponseSelection out;
    ASSERT_TRUE(LookupResponse(out, vgaRequest(3)));
    removeAllFiles();
    ResponseRequest other = vgaRequest(3);
    other.family = "Another family";
    ResponseSelection again;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(LookupResponse(again, other));
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(again.response.empty());
}

TEST_F(ResponseCacheTest, ReleaseFreesEverythingAndResetsTheKey) {
    ResponseSelection out;
    ASSERT_TRUE(LookupResponse(out, vgaRequest(3)));
    ReleaseResponseCache();
    {
        ResponseCache& cache = TheResponseCache();
        std::lock_guard<std::mutex> lock(cache.mutex);
        EXPECT_FALSE(cache.allLoaded);
        EXPECT_EQ(cache.slotLoaded, (std::array<bool, 4>{}));
        EXPECT_TRUE(cache.slots[ResponseCache::Vga].empty());
        EXPECT_EQ(cache.keyFamily, "");
        EXPECT_EQ(cache.keyPath, "");
        EXPECT_EQ(cache.keyCorner, "Typical");
        EXPECT_EQ(cache.keySupply, "0.9 V");
        EXPECT_EQ(cache.fits.fitRow, -1);
    }
    // Loaded again on the next lookup; the release itself writes nothing.
    ResponseSelection released;
    EXPECT_FALSE(LookupResponse(released, vgaRequest(3), false, true));
    EXPECT_TRUE(released.response.empty());
    ASSERT_TRUE(LookupResponse(out, vgaRequest(4)));
    EXPECT_DOUBLE_EQ(out.response.data[0][0], 4020.0);
}

TEST_F(ResponseCacheTest, MissingFilesAreReportedOnceAndGiveNoRecords) {
    removeAllFiles();
    testing::internal::CaptureStdout();
    ResponseSelection out;
    EXPECT_FALSE(LookupResponse(out, vgaRequest(3)));
    EXPECT_FALSE(LookupResponse(out, highGainRequest()));
    const std::string printed = testing::internal::GetCapturedStdout();
    // One line per file, from the first lookup only.
    std::size_t lines = 0;
    for (char ch : printed) lines += ch == '\n';
    EXPECT_EQ(lines, 4u) << printed;
    EXPECT_TRUE(out.response.empty());
}

TEST_F(ResponseCacheTest, InfoOnlyDescribesTheChosenFile) {
    ResponseSelection out;
    ResponseRequest r = highGainRequest();
    ASSERT_TRUE(LookupResponse(out, r, true));
    EXPECT_EQ(out.info.pointCount, 4);
    EXPECT_EQ(out.info.axisB.size(), 5u);
    r.path = kLowGainPath;
    ASSERT_TRUE(LookupResponse(out, r, true));
    EXPECT_EQ(out.info.pointCount, 1);
    EXPECT_EQ(out.info.axisA.size(), 16u);
}

TEST_F(ResponseCacheTest, LookupWithItsOwnFilesIsNotDisturbedByOtherInstances) {
    ResponseDatabaseFiles fast = files;
    fast.corner = "Fast";
    fast.supplyLabel = "1.0 V";
    fast.supplySetting = "1.0 V";
    ResponseSelection out;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(LookupResponse(out, highGainRequest(), fast));
    EXPECT_DOUBLE_EQ(out.response.data[0][0], 5110.0);
    // Another instance stores the typical files in between: this instance still gets its own.
    SetResponseDatabaseFiles(files);
    ASSERT_TRUE(LookupResponse(out, highGainRequest(), fast));
    testing::internal::GetCapturedStdout();
    EXPECT_DOUBLE_EQ(out.response.data[0][0], 5110.0);
    // The files given last are the shared ones from then on.
    SetResponseDatabaseFiles(files);
    ASSERT_TRUE(LookupResponse(out, highGainRequest()));
    EXPECT_DOUBLE_EQ(out.response.data[0][0], 110.0);
}

TEST_F(ResponseCacheTest, AnotherDatabaseDirectoryIsAnotherKey) {
    // Same corner, supply and family, different directories with different responses.
    TempDir otherDir;
    mkdb::writeBytes(otherDir.file(kHighGainCtleFile),
                     mkdb::encodeCtleContainer(taggedHighGain(3)));
    mkdb::writeBytes(otherDir.file(kVgaResponseFile),
                     mkdb::encodeCtleContainer(taggedDatabase(8, 1, 4, {"H"}, 1, 4, 8)));
    ResponseDatabaseFiles other = files;
    other.highGain = otherDir.file(kHighGainCtleFile);
    other.highDataRate = otherDir.file(kHighDataRateCtleFile);
    other.qpi = otherDir.file(kQpiCtleFile);
    other.vga = otherDir.file(kVgaResponseFile);

    testing::internal::CaptureStdout();  // the other directory holds two of the four files
    ResponseSelection mine;
    ASSERT_TRUE(LookupResponse(mine, highGainRequest(), files));
    ResponseSelection theirs;
    ASSERT_TRUE(LookupResponse(theirs, highGainRequest(), other));
    ResponseSelection mineAgain;
    ASSERT_TRUE(LookupResponse(mineAgain, highGainRequest(), files));
    testing::internal::GetCapturedStdout();
    EXPECT_DOUBLE_EQ(mine.response.data[0][0], 110.0);
    EXPECT_DOUBLE_EQ(theirs.response.data[0][0], 3110.0);
    EXPECT_DOUBLE_EQ(mineAgain.response.data[0][0], 110.0);
}

TEST_F(ResponseCacheTest, SupplyVersionChosenByTheBitRateIsPartOfTheKey) {
    // With the supply setting "Default" the bit rate picks the file version: none at 10 Gb/s,
    // "_V1p0" at 12 Gb/s.
    write("V10KX_CTLE_V1p0.kvreledata", taggedHighGain(7));
    files.supplySetting = "Default";
    testing::internal::CaptureStdout();
    ResponseSelection slow;
    ASSERT_TRUE(LookupResponse(slow, highGainRequest(), files));
    ResponseRequest faster = highGainRequest();
    faster.bitRate = 12e9;
    ResponseSelection fast;
    ASSERT_TRUE(LookupResponse(fast, faster, files));
    testing::internal::GetCapturedStdout();
    EXPECT_DOUBLE_EQ(slow.response.data[0][0], 110.0);
    EXPECT_DOUBLE_EQ(fast.response.data[0][0], 7110.0);
}

TEST_F(ResponseCacheTest, ConcurrentLookupsOfDifferentCornersEachGetTheirOwnRecords) {
    ResponseDatabaseFiles fast = files;
    fast.corner = "Fast";
    fast.supplyLabel = "1.0 V";
    fast.supplySetting = "1.0 V";
    testing::internal::CaptureStdout();
    std::atomic<int> wrong{0};
    auto run = [&](const ResponseDatabaseFiles& f, double expected) {
        for (int i = 0; i < 40; ++i) {
            ResponseSelection s;
            if (!LookupResponse(s, highGainRequest(), f) || s.response.data[0][0] != expected) {
                ++wrong;
            }
            if (i % 10 == 9) ReleaseResponseCache();
        }
    };
    std::thread a(run, files, 110.0), b(run, fast, 5110.0);
    a.join();
    b.join();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
