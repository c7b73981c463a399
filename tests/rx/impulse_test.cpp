// AMI_Init: the stage cascade applied to the impulse response.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numeric>
#include <thread>

#include "rx_test_support.hpp"

using namespace rxtest;

namespace {

constexpr double kBitTime = 1e-10;     // 10 Gb/s
constexpr double kDt = kBitTime / 32;  // 32 samples per bit

std::vector<double> GaussianPulse(std::size_t n, double centre, double width) {
    std::vector<double> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double x = (static_cast<double>(i) - centre) / width;
        v[i] = std::exp(-x * x) / kDt;
    }
    return v;
}

void ExpectScaled(const std::vector<double>& before, const std::vector<double>& after,
                  double factor, double relTolerance) {
    ASSERT_EQ(before.size(), after.size());
    const double peak = *std::max_element(before.begin(), before.end());
    for (std::size_t i = 0; i < before.size(); ++i) {
        ASSERT_NEAR(after[i], factor * before[i], relTolerance * factor * peak) << "sample " << i;
    }
}

}  // namespace

class ImpulseTest : public ::testing::Test {
  protected:
    TempDir dir;
};

TEST_F(ImpulseTest, FlatResponsesScaleTheImpulseByTheirGain) {
    struct Case {
        double ctleDb;
        double vgaDb;
        std::vector<std::pair<std::string, std::string>> params;
        double gain;
    };
    const Case cases[] = {
        {0.0, 0.0, {}, 1.0},
        {6.0206, 0.0, {}, 2.0},  // 20 log10(2) = 6.0206 dB
        // Four high-gain stages of x2 and a VGA of x0.5.
        {6.0206, -6.0206, {{"ctle_hg_sel", "1"}}, 8.0},
    };
    for (const Case& c : cases) {
        TestDatabase db;
        db.ctle = FlatStage(c.ctleDb);
        db.vga = FlatStage(c.vgaDb);
        WriteTestDatabase(dir.path(), db);
        const std::vector<double> original = GaussianPulse(1000, 300, 20);
        std::vector<double> impulse = original;
        RxInstance rx(impulse, kDt, kBitTime, Params(dir.path(), c.params));
        ASSERT_TRUE(rx.ok()) << rx.message();
        EXPECT_EQ(rx.message().find("WARNING: No usable"), std::string::npos) << rx.message();
        ExpectScaled(original, impulse, c.gain, 1e-6);
    }
}

TEST_F(ImpulseTest, LowPassKeepsTheAreaTimesItsDcGain) {
    TestDatabase db;
    db.frequencies = FrequencyGrid(0.25e9, 200e9);
    db.ctle = GaussianStage(15e9, 50e-12);
    db.vga = FlatStage(-6.0206);
    WriteTestDatabase(dir.path(), db);
    const std::vector<double> original = GaussianPulse(2000, 200, 10);
    std::vector<double> impulse = original;
    RxInstance rx(impulse, kDt, kBitTime, Params(dir.path()));
    ASSERT_TRUE(rx.ok()) << rx.message();
    const double areaIn = std::accumulate(original.begin(), original.end(), 0.0);
    const double areaOut = std::accumulate(impulse.begin(), impulse.end(), 0.0);
    // Linear resampling of the table leaves faint echoes 1 / (table spacing) away, part of which
    // wraps into the discarded part of the transform.
    EXPECT_NEAR(areaOut / areaIn, 0.5, 1e-4);
    EXPECT_EQ(rx.message().find("WARNING: No usable"), std::string::npos);
    // The low pass spreads the pulse.
    EXPECT_LT(*std::max_element(impulse.begin(), impulse.end()),
              0.5 * *std::max_element(original.begin(), original.end()));
}

TEST_F(ImpulseTest, OutputParametersAndIdentity) {
    WriteTestDatabase(dir.path(), TestDatabase{});
    std::vector<double> impulse = GaussianPulse(256, 50, 5);
    RxInstance rx(impulse, kDt, kBitTime, Params(dir.path()));
    ASSERT_TRUE(rx.ok());
    EXPECT_EQ(
        rx.paramsOut().rfind("(Vanta10_Rx\n  (Description \"Corvan Vanta-10 Rx AMI v2.0\")\n", 0),
        0u);
    EXPECT_EQ(rx.paramsOut().substr(rx.paramsOut().size() - 2), ")\n");
    EXPECT_NE(rx.message().find("Model Identification: Corvan Vanta-10KX/KT Rx AMI v2.0\n\n"),
              std::string::npos);
    EXPECT_NE(rx.message().find("row_size: 256\n"), std::string::npos);
}

TEST_F(ImpulseTest, MissingDatabaseLeavesTheImpulseAloneAndSaysSo) {
    const std::vector<double> original = GaussianPulse(500, 100, 8);
    std::vector<double> impulse = original;
    RxInstance rx(impulse, kDt, kBitTime, Params(dir.path() / "nowhere"));
    ASSERT_TRUE(rx.ok()) << rx.message();
    EXPECT_NE(rx.message().find("WARNING: No usable CTLE response"), std::string::npos);
    EXPECT_NE(rx.message().find("WARNING: No usable VGA response"), std::string::npos);
    EXPECT_EQ(impulse, original);
}

TEST_F(ImpulseTest, InitUsesTwiceTheNextPowerOfTwo) {
    WriteTestDatabase(dir.path(), TestDatabase{});
    ScopedCurrentDir cwd(dir.path());
    std::vector<double> impulse(1000);
    for (std::size_t i = 0; i < impulse.size(); ++i) impulse[i] = 0.5 * static_cast<double>(i);
    RxInstance rx(impulse, kDt, kBitTime, Params(dir.path(), {{"debug", "(enable True)"}}));
    ASSERT_TRUE(rx.ok());
    EXPECT_NE(rx.message().find("Nfft: 2048\n"), std::string::npos) << rx.message();
    // The impulse as handed in, one sample per line, before the base's row_size line.
    const std::string debug = ReadFile(dir.path() / "Corvan_V10_Rx_AMI_Debug.txt");
    EXPECT_NE(debug.find("Pre-init Impulse Response:\n0.000000e+00\n5.000000e-01\n"),
              std::string::npos);
    EXPECT_NE(debug.find("\n4.990000e+02\n4.995000e+02\nrow_size: 1000\n"), std::string::npos);
}

TEST_F(ImpulseTest, NonsenseTimingFailsInitCleanly) {
    WriteTestDatabase(dir.path(), TestDatabase{});
    const std::vector<double> original = GaussianPulse(100, 20, 4);
    for (double dt : {0.0, -1e-12, std::nan("")}) {
        std::vector<double> impulse = original;
        RxInstance rx(impulse, dt, kBitTime, Params(dir.path()));
        EXPECT_FALSE(rx.ok());
        EXPECT_NE(rx.message().find("sample_interval"), std::string::npos) << rx.message();
        EXPECT_EQ(impulse, original);
    }
    std::vector<double> impulse = original;
    RxInstance rx(impulse, kDt, 0.0, Params(dir.path()));
    EXPECT_FALSE(rx.ok());
    EXPECT_NE(rx.message().find("bit_time"), std::string::npos) << rx.message();
}

TEST_F(ImpulseTest, BitTimesBeyondTheServedRatesAreRefused) {
    WriteTestDatabase(dir.path(), TestDatabase{});
    const std::vector<double> original = GaussianPulse(100, 20, 4);
    // 1e37 s once gave an infinite random jitter; 1e-13 s is 10 Tb/s.
    for (double bitTime : {1e37, 1e-3, 1.7e-8, 9.9e-12, 1e-13}) {
        std::vector<double> impulse = original;
        RxInstance rx(impulse, bitTime / 32, bitTime, Params(dir.path()));
        EXPECT_FALSE(rx.ok()) << bitTime;
        EXPECT_EQ(rx.message().rfind("Invalid bit_time ", 0), 0u) << rx.message();
        EXPECT_NE(rx.message().find("outside the range of 0.062500 - 100.000000 Gbps"),
                  std::string::npos)
            << rx.message();
        EXPECT_EQ(impulse, original);
    }
    for (double bitTime : {1.5e-8, 1e-9, 1.01e-11}) {
        std::vector<double> impulse = original;
        RxInstance rx(impulse, bitTime / 32, bitTime, Params(dir.path()));
        EXPECT_TRUE(rx.ok()) << bitTime << rx.message();
        EXPECT_TRUE(std::isfinite(OutputValue(rx.paramsOut(), "Rx_Rj "))) << rx.paramsOut();
        EXPECT_TRUE(std::isfinite(OutputValue(rx.paramsOut(), "Rx_DCD "))) << rx.paramsOut();
    }
}

TEST_F(ImpulseTest, InstancesBuiltAtOnceOnTwoThreadsEachReadTheirOwnCorner) {
    // Typical corner: unity stages. Fast corner: x2 CTLE and x2 VGA.
    WriteTestDatabase(dir.path(), TestDatabase{});
    TestDatabase fast;
    fast.ctle = FlatStage(6.0206);
    fast.vga = FlatStage(6.0206);
    WriteTestDatabase(dir.path(), fast, "_F");

    const std::vector<double> original = GaussianPulse(256, 60, 5);
    const double peak = *std::max_element(original.begin(), original.end());
    std::atomic<int> wrong{0};
    auto build = [&](const char* corner, double gain) {
        for (int i = 0; i < 40; ++i) {
            std::vector<double> impulse = original;
            RxInstance rx(impulse, kDt, kBitTime, Params(dir.path(), {{"corner", corner}}));
            if (!rx.ok() || std::abs(impulse[60] - gain * peak) > 1e-6 * gain * peak) ++wrong;
        }
    };
    std::thread typical(build, "0", 1.0);
    std::thread fastCorner(build, "1", 4.0);
    typical.join();
    fastCorner.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(ImpulseTest, InstancesBuiltAtOnceFromTwoDatabasesEachReadTheirOwn) {
    // Same corner and supply; one database has unity stages, the other x2 CTLE and x2 VGA.
    WriteTestDatabase(dir.path(), TestDatabase{});
    TempDir louder;
    TestDatabase doubled;
    doubled.ctle = FlatStage(6.0206);
    doubled.vga = FlatStage(6.0206);
    WriteTestDatabase(louder.path(), doubled);

    const std::vector<double> original = GaussianPulse(256, 60, 5);
    const double peak = *std::max_element(original.begin(), original.end());
    std::atomic<int> wrong{0};
    auto build = [&](const std::filesystem::path& database, double gain) {
        for (int i = 0; i < 40; ++i) {
            std::vector<double> impulse = original;
            RxInstance rx(impulse, kDt, kBitTime, Params(database));
            if (!rx.ok() || std::abs(impulse[60] - gain * peak) > 1e-6 * gain * peak) ++wrong;
        }
    };
    std::thread plain(build, dir.path(), 1.0);
    std::thread loud(build, louder.path(), 4.0);
    plain.join();
    loud.join();
    EXPECT_EQ(wrong.load(), 0);
}
