// The CTLE/VGA auto-adaptation of the receiver library, through its C interface: the choice on
// lossy and clean channels, its repeatability, that the chosen gains are the gains in use, the
// inputs it refuses, the DFE taps it hands to the impulse response, and that nothing of it stays
// behind for the next model. Most cases run on a reduced database generated from the shipped
// description (four AC boosts, three VGA gains), one on the full kit database.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <regex>
#include <sstream>

#include "mkdb/writers.hpp"
#include "rx_test_support.hpp"

using namespace rxtest;

namespace {

constexpr double kBitTime = 1.0 / 10.3125e9;
constexpr int kSpb = 32;
constexpr double kDt = kBitTime / kSpb;
const char* const kAdaptedLine = "After adaptaion: AC Gain: ";

std::vector<double> PoleChannel(double tauUi) { return rxtest::PoleChannel(tauUi, kSpb, kDt); }

struct Gains {
    int ac = -1, dc = -1, vga = -1;
    int lines = 0;
};

Gains AdaptedGains(const std::string& message) {
    static const std::regex line(
        "After adaptaion: AC Gain: (-?\\d+), DC Gain: (-?\\d+), "
        "VGA Gain: (-?\\d+)\n");
    Gains g;
    for (auto it = std::sregex_iterator(message.begin(), message.end(), line);
         it != std::sregex_iterator(); ++it) {
        g.ac = std::stoi((*it)[1]);
        g.dc = std::stoi((*it)[2]);
        g.vga = std::stoi((*it)[3]);
        ++g.lines;
    }
    return g;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// One AMI_Init: the equalised impulse, message and output parameters.
struct InitRun {
    bool ok = false;
    std::vector<double> impulse;
    std::string message;
    std::string paramsOut;
};

InitRun Init(std::vector<double> impulse, const std::string& params) {
    RxInstance rx(impulse, kDt, kBitTime, params);
    return {rx.ok(), impulse, rx.message(), rx.paramsOut()};
}

class AdaptationModelTest : public ::testing::Test {
  protected:
    void SetUp() override { WriteReducedKitDatabase(dir.path()); }

    std::string Settings(std::vector<std::pair<std::string, std::string>> values) const {
        return Params(dir.path(), values);
    }

    TempDir dir;
};

TEST_F(AdaptationModelTest, ALossierChannelGetsMoreBoostAndTheSameInputTheSameChoice) {
    const std::string adapt = Settings({{"ctle_mode", "1"}, {"dfe", "(mode 0)"}});
    const InitRun lossy = Init(PoleChannel(1.2), adapt);
    const InitRun clean = Init(PoleChannel(0.02), adapt);
    ASSERT_TRUE(lossy.ok && clean.ok);
    const Gains l = AdaptedGains(lossy.message);
    const Gains c = AdaptedGains(clean.message);
    ASSERT_EQ(l.lines, 1) << lossy.message;
    ASSERT_EQ(c.lines, 1) << clean.message;
    // Boost values 0, 1, 2, 3 stand for 0, 5, 10 and 15 dB of peaking.
    EXPECT_GT(l.ac, c.ac);
    EXPECT_EQ(l.dc, 0);
    EXPECT_GE(l.vga, 0);
    EXPECT_LT(l.vga, 3);
    // The line follows the jitter report and precedes what the impulse processing writes.
    EXPECT_LT(lossy.message.find("(Rx_Receiver_Sensitivity"), lossy.message.find(kAdaptedLine));
    EXPECT_EQ(lossy.message.find("did not run"), std::string::npos) << lossy.message;

    const InitRun again = Init(PoleChannel(1.2), adapt);
    EXPECT_EQ(again.message, lossy.message);
    EXPECT_TRUE(SameBits(again.impulse, lossy.impulse));
}

TEST_F(AdaptationModelTest, TheChosenGainsAreTheGainsInUseInBothCtleFamilies) {
    // One-stage high-data-rate CTLE: the adapted AC gain replaces eqz_s1_ac_gain too.
    const InitRun adapted = Init(
        PoleChannel(1.2),
        Settings(
            {{"ctle_mode", "1"}, {"dfe", "(mode 0)"}, {"eqz_s1_ac_gain", "0"}, {"vga_gain", "0"}}));
    const Gains g = AdaptedGains(adapted.message);
    ASSERT_EQ(g.lines, 1) << adapted.message;
    ASSERT_GT(g.ac, 0);
    const InitRun configured =
        Init(PoleChannel(1.2), Settings({{"ctle_mode", "0"},
                                         {"dfe", "(mode 0)"},
                                         {"eqz_s1_ac_gain", std::to_string(g.ac)},
                                         {"vga_gain", std::to_string(g.vga)}}));
    EXPECT_TRUE(SameBits(adapted.impulse, configured.impulse));

    // Four-stage high-gain CTLE with DC gains up to 2 to choose from.
    const InitRun high = Init(PoleChannel(1.2), Settings({{"ctle_mode", "1"},
                                                          {"ctle_hg_sel", "1"},
                                                          {"eqz_s4_dc_gain", "2"},
                                                          {"dfe", "(mode 0)"}}));
    const Gains h = AdaptedGains(high.message);
    ASSERT_EQ(h.lines, 1) << high.message;
    EXPECT_GE(h.dc, 0);
    EXPECT_LE(h.dc, 2);
    const InitRun highConfigured =
        Init(PoleChannel(1.2), Settings({{"ctle_mode", "0"},
                                         {"ctle_hg_sel", "1"},
                                         {"dfe", "(mode 0)"},
                                         {"eqz_s4_ac_gain", std::to_string(h.ac)},
                                         {"eqz_s4_dc_gain", std::to_string(h.dc)},
                                         {"vga_gain", std::to_string(h.vga)}}));
    EXPECT_TRUE(SameBits(high.impulse, highConfigured.impulse));
}

TEST_F(AdaptationModelTest, EveryCandidateClosedChoosesTheFirstSettingsAndInitSucceeds) {
    // A channel of random echoes: the received stimulus crosses zero at every phase of the unit
    // interval, whatever the equaliser does.
    std::mt19937 rng(5);
    std::normal_distribution<double> echo(0.0, 1.0 / kDt);
    std::vector<double> noise(48 * kSpb);
    for (double& v : noise) v = echo(rng);
    const InitRun run = Init(noise, Settings({{"ctle_mode", "1"}, {"dfe", "(mode 0)"}}));
    ASSERT_TRUE(run.ok);
    const Gains g = AdaptedGains(run.message);
    ASSERT_EQ(g.lines, 1) << run.message;
    EXPECT_EQ(g.ac, 0);
    EXPECT_EQ(g.dc, 0);
}

TEST_F(AdaptationModelTest, UnusableInputIsReportedOnceAndTheConfiguredGainsStay) {
    TempDir empty;
    std::vector<double> withNan = PoleChannel(1.2);
    withNan[100] = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        std::vector<double> impulse;
        std::filesystem::path database;
        const char* reason;
    };
    const std::vector<Case> cases{
        {"not a number", withNan, dir.path(), "not a finite number"},
        {"all zero", std::vector<double>(64 * kSpb, 0.0), dir.path(), "zero everywhere"},
        {"shorter than a bit", std::vector<double>(kSpb / 2, 1.0 / kDt), dir.path(),
         "fewer than one unit interval"},
        {"no database", PoleChannel(1.2), empty.path(), "lists no DC gains"},
    };
    for (const Case& c : cases) {
        const std::vector<std::pair<std::string, std::string>> gains{
            {"eqz_s1_ac_gain", "2"}, {"vga_gain", "1"}, {"dfe", "(mode 2)"}};
        auto with = [&](const char* mode) {
            std::vector<std::pair<std::string, std::string>> v = gains;
            v.emplace_back("ctle_mode", mode);
            return Params(c.database, v);
        };
        const InitRun refused = Init(c.impulse, with("1"));
        ASSERT_TRUE(refused.ok) << c.what;
        EXPECT_EQ(Count(refused.message, "WARNING: CTLE/VGA auto-adaptation did not run: "), 1u)
            << c.what << "\n"
            << refused.message;
        EXPECT_NE(refused.message.find(c.reason), std::string::npos) << c.what;
        EXPECT_EQ(refused.message.find(kAdaptedLine), std::string::npos) << c.what;
        // Exactly what the configured gains give.
        const InitRun configured = Init(c.impulse, with("0"));
        EXPECT_TRUE(SameBits(refused.impulse, configured.impulse)) << c.what;
        EXPECT_EQ(refused.paramsOut, configured.paramsOut) << c.what;
    }
}

// Tap k of the report " (tap_k code weight)".
std::vector<double> ReportedWeights(const std::string& paramsOut) {
    std::vector<double> weights;
    static const std::regex tap(R"( \(tap_(\d+) (-?\d+) (-?\d+\.\d+)\))");
    for (auto it = std::sregex_iterator(paramsOut.begin(), paramsOut.end(), tap);
         it != std::sregex_iterator(); ++it) {
        EXPECT_EQ(std::stoul((*it)[1]), weights.size() + 1);
        weights.push_back(std::stod((*it)[3]));
    }
    return weights;
}

TEST_F(AdaptationModelTest, TheAdaptedDfeTapsGoIntoTheImpulseAndTheReport) {
    const std::vector<double> channel = PoleChannel(1.2);
    const InitRun withDfe = Init(channel, Settings({{"ctle_mode", "1"}, {"dfe", "(mode 2)"}}));
    const InitRun withoutDfe = Init(channel, Settings({{"ctle_mode", "1"}, {"dfe", "(mode 0)"}}));
    ASSERT_TRUE(withDfe.ok && withoutDfe.ok);
    EXPECT_EQ(withDfe.message.find("DFE failed"), std::string::npos) << withDfe.message;
    ASSERT_EQ(AdaptedGains(withDfe.message).ac, AdaptedGains(withoutDfe.message).ac);

    const std::vector<double> weights = ReportedWeights(withDfe.paramsOut);
    ASSERT_EQ(weights.size(), 11u) << withDfe.paramsOut;
    EXPECT_EQ(withDfe.paramsOut.substr(withDfe.paramsOut.size() - 3), "))\n");
    EXPECT_TRUE(ReportedWeights(withoutDfe.paramsOut).empty());
    // A lossy channel leaves a positive first post-cursor for the DFE to cancel.
    EXPECT_GT(weights[0], 0.0);

    // The equalised impulse is the same but for one sample per tap, which lowers the pulse of a
    // +-0.5 V bit by the tap's weight times the adaptation's data level over the bit around
    // post-cursor k of the pulse's main cursor: at main + k bits - half a bit, by
    // weight * level / (0.5 dt). The level is one and the same whole number of 10 mV steps.
    const std::vector<double>& eq = withoutDfe.impulse;
    std::vector<double> pulse(eq.size(), 0.0);
    for (std::size_t i = 0; i < eq.size(); ++i) {
        for (std::size_t j = 0; j < static_cast<std::size_t>(kSpb) && j <= i; ++j) {
            pulse[i] += 0.5 * kDt * eq[i - j];
        }
    }
    const auto main =
        static_cast<std::size_t>(std::max_element(pulse.begin(), pulse.end()) - pulse.begin());
    const double level =
        -(withDfe.impulse[main + kSpb / 2] - eq[main + kSpb / 2]) * 0.5 * kDt / weights[0];
    EXPECT_GT(level, 0.005);
    EXPECT_LT(level, 0.315);
    EXPECT_NEAR(level / 0.01, std::round(level / 0.01), 1e-3 / weights[0]);
    for (std::size_t i = 0; i < eq.size(); ++i) {
        const std::size_t offset = i + kSpb / 2 > main ? i + kSpb / 2 - main : 0;
        const bool tap = offset > 0 && offset % kSpb == 0 && offset / kSpb <= 11;
        if (!tap) {
            ASSERT_EQ(withDfe.impulse[i], eq[i]) << i;
            continue;
        }
        const double weight = weights[offset / kSpb - 1];
        EXPECT_NEAR((withDfe.impulse[i] - eq[i]) * 0.5 * kDt, -weight * level, 1e-6)
            << "tap " << offset / kSpb;
    }
}

TEST_F(AdaptationModelTest, NothingOfTheAdaptationStaysForTheNextModel) {
    // A receiver with its DFE, clock recovery and waveform blocks, before and after an adapting
    // one: the same impulse, samples and clock times to the bit.
    const std::string plain =
        Settings({{"eqz_s1_ac_gain", "3"}, {"vga_gain", "1"}, {"dfe", "(mode 2)"}});
    std::vector<double> wave(20000 * kSpb / 4);
    std::mt19937 rng(3);
    double level = 0.3;
    for (std::size_t i = 0; i < wave.size(); ++i) {
        if (i % kSpb == 0) level = (rng() & 1) ? 0.3 : -0.3;
        wave[i] = (i > 0 ? 0.8 * wave[i - 1] : 0.0) + 0.2 * level;
    }
    auto runPlain = [&] {
        std::vector<double> impulse = PoleChannel(0.8);
        RxInstance rx(impulse, kDt, kBitTime, plain);
        EXPECT_TRUE(rx.ok());
        std::vector<double> out = impulse;
        for (std::size_t start = 0; start < wave.size(); start += 4096) {
            std::vector<double> block(wave.begin() + start,
                                      wave.begin() + std::min(wave.size(), start + 4096));
            std::vector<double> clocks(block.size() + 1);
            EXPECT_EQ(rx.GetWave(block, clocks), 1);
            out.insert(out.end(), block.begin(), block.end());
            out.insert(out.end(), clocks.begin(), clocks.end());
        }
        return out;
    };
    const std::vector<double> before = runPlain();
    std::vector<double> impulse = PoleChannel(1.2);
    {
        RxInstance adapting(impulse, kDt, kBitTime,
                            Settings({{"ctle_mode", "1"}, {"dfe", "(mode 2)"}}));
        ASSERT_EQ(AdaptedGains(adapting.message()).lines, 1) << adapting.message();
        // While it is open, and after it is closed.
        EXPECT_TRUE(SameBits(runPlain(), before));
    }
    EXPECT_TRUE(SameBits(runPlain(), before));
}

TEST(AdaptationKitDatabase, ChoosesAndReportsTheGainsOnTheShippedDatabase) {
    // The full database of the kit: 16 AC boosts and 8 VGA gains for the default CTLE, with
    // the debug file on, which records the step.
    TempDir dir;
    mkdb::writeRxDatabase(mkdb::defaultRxDescription(), dir.path());
    ScopedCurrentDir here(dir.path());
    const InitRun run = Init(
        PoleChannel(1.5),
        Params(dir.path(), {{"ctle_mode", "1"}, {"dfe", "(mode 2)"}, {"debug", "(enable True)"}}));
    ASSERT_TRUE(run.ok);
    const Gains g = AdaptedGains(run.message);
    ASSERT_EQ(g.lines, 1) << run.message;
    EXPECT_GT(g.ac, 0);
    EXPECT_LE(g.ac, 15);
    EXPECT_EQ(g.dc, 0);
    EXPECT_LE(g.vga, 7);
    EXPECT_EQ(ReportedWeights(run.paramsOut).size(), 11u);
    const std::string debug = ReadFile(dir.path() / "Corvan_V10_Rx_AMI_Debug.txt");
    const std::size_t entering = debug.find("Entering CTLE auto-adapt block.");
    ASSERT_NE(entering, std::string::npos) << debug;
    EXPECT_NE(debug.find(kAdaptedLine, entering), std::string::npos);
}

}  // namespace
