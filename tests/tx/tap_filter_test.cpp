// The transmitter base's tap filter against the dense ConvFilt it stands for: the same output
// bits for finite samples, signed zeros included, across blocks of any size and lengths that
// leave partial chunks.
#include <cstring>

#include "framework/ami_tx.hpp"
#include "framework/conv_filt.hpp"
#include "tx_test_support.hpp"

namespace {

// A transmitter base with chosen weights, its impulse already filtered.
class WeightedTx : public AmiTx {
  public:
    WeightedTx(std::vector<double> weights, std::vector<double>& impulse) : AmiTx("(T)") {
        tapWeights = std::move(weights);
        Init(impulse.data(), static_cast<long>(impulse.size()), 0, 1e-12, 1e-12);
    }
};

std::vector<double> Layout(const std::vector<double>& five, int spb) {
    std::vector<double> w;
    for (double x : five) {
        w.push_back(x);
        w.insert(w.end(), spb - 1, 0.0);
    }
    return w;
}

std::vector<double> Dense(const std::vector<double>& weights, const std::vector<double>& input) {
    ConvFilt f(
        weights,
        [&] {
            std::vector<double> d(weights.size(), 0.0);
            d[0] = 1.0;
            return d;
        }(),
        std::vector<double>(weights.size(), 0.0));
    std::vector<double> out;
    for (double x : input) out.push_back(f.Filter(x));
    return out;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b, std::string& where) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::memcmp(&a[i], &b[i], sizeof(double)) != 0) {
            where = "sample " + std::to_string(i) + ": " + std::to_string(a[i]) + " vs " +
                    std::to_string(b[i]) + (std::signbit(a[i]) ? " (-)" : " (+)") +
                    (std::signbit(b[i]) ? " (-)" : " (+)");
            return false;
        }
    }
    return true;
}

// Samples rich in signed zeros, cancellations, subnormals and underflowing products.
std::vector<double> AwkwardSamples(std::size_t n, unsigned seed) {
    static const double pool[] = {0.0,      -0.0,    1.0,    -1.0,    2.5, -2.5,
                                  4.9e-324, -1e-310, 1e-200, -1e-200, 0.3, -0.7};
    std::mt19937 rng(seed);
    std::vector<double> v(n);
    for (double& x : v) x = pool[rng() % std::size(pool)];
    // Runs of one value, so that weights of opposite sign cancel exactly.
    for (std::size_t i = 0; i + 40 < n; i += 97) std::fill(v.begin() + i, v.begin() + i + 40, v[i]);
    return v;
}

struct Case {
    const char* name;
    std::vector<double> five;
    int spb;
};

TEST(TapFilter, MatchesTheDenseFilterBitForBit) {
    const Case cases[] = {
        {"typical", {-0.05, -0.15, 0.6, -0.3, 0.1}, 4},
        {"main only", {0.0, 0.0, 1.2, 0.0, 0.0}, 3},
        {"signed zero weights", {-0.0, 0.5, -0.5, -0.0, 1e-300}, 2},
        {"cancelling", {1.0, 0.0, -1.0, 0.0, 1.0}, 1},
        {"all zero", {0.0, -0.0, 0.0, 0.0, -0.0}, 2},
        {"negative main", {0.25, 0.0, -1.0, 0.0, 0.0}, 5},
    };
    for (const Case& c : cases) {
        const std::vector<double> weights = Layout(c.five, c.spb);
        for (unsigned seed = 1; seed <= 4; ++seed) {
            std::vector<double> impulse = AwkwardSamples(50, seed + 100);
            const std::vector<double> wave = AwkwardSamples(3000, seed);
            // The impulse and the waveform each start from silence.
            std::vector<double> expected = Dense(weights, impulse);
            const std::vector<double> waveExpected = Dense(weights, wave);
            expected.insert(expected.end(), waveExpected.begin(), waveExpected.end());

            WeightedTx tx(weights, impulse);
            std::vector<double> got = impulse;
            std::mt19937 rng(seed);
            for (std::size_t pos = 0; pos < wave.size();) {
                const std::size_t n = std::min<std::size_t>(rng() % 40, wave.size() - pos);
                std::vector<double> block(wave.begin() + pos, wave.begin() + pos + n);
                double clock = 0;
                EXPECT_EQ(tx.GetWave(block.data(), static_cast<long>(n), &clock), 1);
                EXPECT_EQ(clock, -1.0);
                got.insert(got.end(), block.begin(), block.end());
                pos += n;
            }
            std::string where;
            EXPECT_TRUE(SameBits(got, expected, where))
                << c.name << " seed " << seed << " " << where;
        }
    }
}

TEST(TapFilter, NonFiniteSampleReachesOnlyTheOutputsOfItsTaps) {
    const std::vector<double> weights = Layout({0.1, 0.2, 0.5, -0.2, 0.0}, 4);
    std::vector<double> impulse(8, 0.0);
    WeightedTx tx(weights, impulse);
    std::vector<double> wave(60, 1.0);
    wave[10] = std::numeric_limits<double>::infinity();
    tx.GetWave(wave.data(), 60, nullptr);
    for (int i = 0; i < 60; ++i) {
        const bool hit = i == 10 || i == 14 || i == 18 || i == 22;  // weight 0 at delay 16
        EXPECT_EQ(std::isfinite(wave[i]), !hit) << i;
    }
}

}  // namespace
