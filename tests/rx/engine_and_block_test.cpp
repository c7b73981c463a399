// The receiver on the generated device database: the FFTW engine against the GSL reference
// engine for every stage configuration, and waveform output that does not depend on the block
// length, down to one bit per block.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <regex>

#include "engine/fft/real_fft_plan.hpp"
#include "mkdb/writers.hpp"
#include "rx/user_model.hpp"
#include "rx_test_support.hpp"

using namespace rxtest;

namespace {

constexpr double kBitTime = 1 / 10.3125e9;
constexpr int kSpb = 32;
constexpr double kDt = kBitTime / kSpb;

// A received NRZ pattern: PRBS-15 levels through two first-order low passes of 40 ps.
std::vector<double> ReceivedWave(std::size_t bits, double amplitude) {
    std::vector<double> wave(bits * kSpb);
    unsigned state = 0x7fff;
    double y1 = 0, y2 = 0;
    const double a = std::exp(-kDt / 40e-12);
    for (std::size_t b = 0; b < bits; ++b) {
        const unsigned bit = ((state >> 14) ^ (state >> 13)) & 1u;
        state = ((state << 1) | bit) & 0x7fffu;
        for (int i = 0; i < kSpb; ++i) {
            y1 = a * y1 + (1 - a) * (bit ? amplitude : -amplitude);
            y2 = a * y2 + (1 - a) * y1;
            wave[b * kSpb + i] = y2;
        }
    }
    return wave;
}

std::vector<double> ChannelImpulse(std::size_t n) {
    std::vector<double> h(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kSpb;
        h[i] = t * std::exp(-t / 1.5) / kDt * 0.3;
    }
    return h;
}

class GeneratedDatabase : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        mkdb::writeRxDatabase(mkdb::defaultRxDescription(), dir_->path());
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static TempDir* dir_;
};
TempDir* GeneratedDatabase::dir_ = nullptr;

const std::vector<std::vector<std::pair<std::string, std::string>>> kStageConfigurations = {
    {},                                                                         // one CTLE stage
    {{"eqz_s1_ac_gain", "15"}, {"eqz_bw_sel", "4"}, {"vga_gain", "7"}},         // most peaking
    {{"ctle_hg_sel", "1"}, {"eqz_s4_ac_gain", "20"}, {"eqz_s4_dc_gain", "2"}},  // four stages
    {{"QPI_sel", "1"}},  // four stages with the second curve pair
};

double Peak(const std::vector<double>& v) {
    double peak = 0;
    for (double x : v) peak = std::max(peak, std::abs(x));
    return peak;
}

double WorstDifference(const std::vector<double>& a, const std::vector<double>& b,
                       std::size_t from = 0) {
    double worst = 0;
    for (std::size_t i = from; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

}  // namespace

TEST_F(GeneratedDatabase, FftwAndGslEnginesAgreeOnImpulseAndWaveform) {
    const std::vector<double> wave = ReceivedWave(1200, 0.3);
    for (const auto& config : kStageConfigurations) {
        const std::string params = Params(dir_->path(), config);
        std::vector<double> impulses[2], waves[2];
        int e = 0;
        for (FftEngine engine : {FftEngine::Fftw, FftEngine::Gsl}) {
            std::vector<double> impulse = ChannelImpulse(1000);
            v10kx_ami_rx::UserModel model(impulse.data(), 1000, 0, kDt, kBitTime, params.c_str(),
                                          engine);
            ASSERT_EQ(model.MsgLog().find("WARNING: No usable"), std::string::npos)
                << model.MsgLog();
            impulses[e] = impulse;
            // Blocks of three lengths: each length change carries the history over.
            std::size_t pos = 0;
            for (std::size_t length : {1000u, 4096u, 33000u}) {
                std::vector<double> block(wave.begin() + static_cast<long>(pos),
                                          wave.begin() + static_cast<long>(pos + length));
                std::vector<double> clocks(length + 1);
                ASSERT_EQ(model.GetWave(block.data(), static_cast<long>(length), clocks.data()), 1);
                waves[e].insert(waves[e].end(), block.begin(), block.end());
                pos += length;
            }
            ++e;
        }
        EXPECT_LE(WorstDifference(impulses[0], impulses[1]), 1e-12 * Peak(impulses[1])) << params;
        EXPECT_LE(WorstDifference(waves[0], waves[1]), 1e-12 * Peak(waves[1])) << params;
        EXPECT_GT(Peak(waves[0]), 0.05) << params;  // the stages passed a signal
    }
}

TEST_F(GeneratedDatabase, ShortBlocksGiveTheSameWaveformAsLongOnes) {
    const std::size_t bits = 2048;
    const std::vector<double> input = ReceivedWave(bits, 0.2);
    auto run = [&](const std::string& params, std::size_t blockBits) {
        std::vector<double> impulse = ChannelImpulse(4096);
        RxInstance rx(impulse, kDt, kBitTime, params);
        EXPECT_TRUE(rx.ok()) << rx.message();
        std::vector<double> out;
        std::vector<double> clocks(blockBits * kSpb + 1);
        for (std::size_t b = 0; b + blockBits <= bits; b += blockBits) {
            std::vector<double> block(input.begin() + static_cast<long>(b * kSpb),
                                      input.begin() + static_cast<long>((b + blockBits) * kSpb));
            EXPECT_EQ(rx.GetWave(block, clocks), 1);
            out.insert(out.end(), block.begin(), block.end());
        }
        return out;
    };
    // Against one block of the whole signal, from the first sample on: each stage keeps its
    // own history, so the cut into blocks only changes rounding. The one-stage CTLE at its
    // defaults and at the demo's peaking, the most peaking, and the four-stage equalisers.
    const std::vector<std::pair<std::string, std::string>> demoPeaking = {{"eqz_s1_ac_gain", "12"}};
    for (const auto& config : {kStageConfigurations[0], demoPeaking, kStageConfigurations[1],
                               kStageConfigurations[2], kStageConfigurations[3]}) {
        const std::string params = Params(dir_->path(), config);
        const std::vector<double> reference = run(params, bits);
        for (std::size_t blockBits : {1u, 2u, 3u, 7u, 64u, 1024u}) {
            const std::vector<double> out = run(params, blockBits);
            EXPECT_LT(WorstDifference(out, reference), 1e-12)
                << params << ", blocks of " << blockBits << " bits";
        }
    }
}

TEST_F(GeneratedDatabase, LongBlocksKeepTheFftLengthRule) {
    // The rule's own history suffices for long blocks; short ones get what the stages need.
    ScopedCurrentDir cwd(dir_->path());
    std::vector<double> impulse = ChannelImpulse(4096);
    RxInstance rx(impulse, kDt, kBitTime, Params(dir_->path(), {{"debug", "(enable True)"}}));
    ASSERT_TRUE(rx.ok());
    for (std::size_t n : {32768u, 32u, 32u, 32768u}) {
        std::vector<double> wave(n, 0.1);
        std::vector<double> clocks(n + 1);
        ASSERT_EQ(rx.GetWave(wave, clocks), 1);
    }
    std::vector<long> sizes;
    const std::string debug = ReadFile(dir_->path() / "Corvan_V10_Rx_AMI_Debug.txt");
    const std::regex line("Nfft: ([0-9]+)");
    for (auto it = std::sregex_iterator(debug.begin(), debug.end(), line);
         it != std::sregex_iterator(); ++it) {
        sizes.push_back(std::stol((*it)[1]));
    }
    ASSERT_EQ(sizes.size(), 4u);  // Init, then one per change of block length
    EXPECT_EQ(sizes[0], 8192);
    EXPECT_EQ(sizes[1], 65536);
    EXPECT_GT(sizes[2], 64);  // the rule alone would give 64: one bit of history
    EXPECT_EQ(sizes[3], 65536);
    // The stages' own transforms, named once per waveform configuration: a few times the
    // responses' length, far below the rule's window for the long blocks.
    const std::regex stageLine(R"(Stage transform lengths:((?: [0-9]+ \([0-9]+ taps\))+)\n)");
    std::size_t lines = 0;
    for (auto it = std::sregex_iterator(debug.begin(), debug.end(), stageLine);
         it != std::sregex_iterator(); ++it, ++lines) {
        const std::string listed = (*it)[1];
        const std::regex entry(R"(([0-9]+) \(([0-9]+) taps\))");
        for (auto e = std::sregex_iterator(listed.begin(), listed.end(), entry);
             e != std::sregex_iterator(); ++e) {
            const long length = std::stol((*e)[1]);
            EXPECT_EQ(length & (length - 1), 0) << length;
            EXPECT_LT(length, 16384);
            EXPECT_GT(length, std::stol((*e)[2]));
        }
    }
    EXPECT_EQ(lines, 3u);
}
