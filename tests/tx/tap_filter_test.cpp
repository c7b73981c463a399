// The transmitter base's tap filter against the dense ConvFilt it stands for: the same output
// bits for finite samples, signed zeros included, across blocks of any size and lengths that
// leave partial chunks. Every variant of its sums (scalar, SSE2, AVX) is checked on its own, as
// far as the machine can run it.
#include <cstring>

#include "framework/ami_tx.hpp"
#include "framework/conv_filt.hpp"
#include "tx_test_support.hpp"

namespace {

// A transmitter base with chosen weights and sums, its impulse already filtered.
class WeightedTx : public AmiTx {
  public:
    WeightedTx(std::vector<double> weights, std::vector<double>& impulse, TapKernel kernel)
        : AmiTx("(T)") {
        tapWeights = std::move(weights);
        tapKernel = kernel;
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

class TapFilter : public ::testing::TestWithParam<TapKernel> {
  protected:
    void SetUp() override {
        if (!TapKernelAvailable(GetParam())) GTEST_SKIP() << "this processor lacks the variant";
    }
};

std::string VariantName(const ::testing::TestParamInfo<TapKernel>& info) {
    switch (info.param) {
        case TapKernel::Scalar:
            return "Scalar";
        case TapKernel::Sse2:
            return "Sse2";
        case TapKernel::Avx:
            return "Avx";
        default:
            return "Automatic";
    }
}

INSTANTIATE_TEST_SUITE_P(EachVariant, TapFilter,
                         ::testing::Values(TapKernel::Automatic, TapKernel::Scalar, TapKernel::Sse2,
                                           TapKernel::Avx),
                         VariantName);

struct Case {
    const char* name;
    std::vector<double> five;
    int spb;
};

TEST_P(TapFilter, MatchesTheDenseFilterBitForBit) {
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

            WeightedTx tx(weights, impulse, GetParam());
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

// Blocks long enough for the vector path, at the widths around it: silence holding stray
// negative zeros (whose rebuilt sign decides zero outputs far from the block's end), runs of
// -0, and a two-level signal. Block lengths 1, 3, 5 and others that are not multiples of 4, and
// blocks just shorter and longer than the filter.
std::vector<double> SilenceAndSignal(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<double> v(n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t phase = (i / 700) % 4;
        if (phase == 0) {
            v[i] = rng() % 50 == 0 ? -0.0 : 0.0;
        } else if (phase == 1) {
            // Mostly -0, with the occasional negative sample that turns the next ones into +0.
            const unsigned r = rng() % 16;
            v[i] = r < 12 ? -0.0 : r < 14 ? 0.0 : r < 15 ? -0.5 : 0.5;
        } else if (phase == 2) {
            // -0 that becomes +0 between negative samples, read by the taps of one parity.
            v[i] = i % 2 ? -0.5 : -0.0;
        } else {
            v[i] = ((i / 32) * 2654435761u >> 7) % 2 ? 0.5 : -0.5;
        }
    }
    return v;
}

TEST_P(TapFilter, LongBlocksOfAnyLengthMatchTheDenseFilterBitForBit) {
    const Case cases[] = {
        {"typical", {-0.05, -0.15, 0.6, -0.3, 0.1}, 32},
        {"cancelling", {1.0, 0.0, -1.0, 0.0, 1.0}, 3},
        {"signed zero weights", {-0.0, 0.5, -0.5, -0.0, 1e-300}, 32},
        {"negative main", {0.25, 0.0, -1.0, 0.0, 0.0}, 7},
        {"main only", {0.0, 0.0, 1.2, 0.0, 0.0}, 1},
        {"two taps", {0.0, 0.5, 0.0, -0.25, 0.0}, 2},
        {"all negative", {-0.1, -0.2, -0.5, -0.1, -0.3}, 2},
    };
    const std::size_t lengths[] = {1, 3,   5,   2050, 30,   11, 45,   6,
                                   7, 159, 160, 161,  4099, 2,  1023, 9};
    for (const Case& c : cases) {
        const std::vector<double> weights = Layout(c.five, c.spb);
        for (unsigned seed = 1; seed <= 3; ++seed) {
            std::vector<double> impulse = AwkwardSamples(300, seed + 200);
            std::vector<double> wave = SilenceAndSignal(9000, seed);
            const std::vector<double> awkward = AwkwardSamples(3000, seed + 300);
            wave.insert(wave.end(), awkward.begin(), awkward.end());
            std::vector<double> expected = Dense(weights, impulse);
            const std::vector<double> waveExpected = Dense(weights, wave);
            expected.insert(expected.end(), waveExpected.begin(), waveExpected.end());

            WeightedTx tx(weights, impulse, GetParam());
            std::vector<double> got = impulse;
            for (std::size_t pos = 0, b = seed; pos < wave.size(); ++b) {
                const std::size_t n = std::min(lengths[b % std::size(lengths)], wave.size() - pos);
                std::vector<double> block(wave.begin() + pos, wave.begin() + pos + n);
                tx.GetWave(block.data(), static_cast<long>(n), nullptr);
                got.insert(got.end(), block.begin(), block.end());
                pos += n;
            }
            std::string where;
            EXPECT_TRUE(SameBits(got, expected, where))
                << c.name << " seed " << seed << " " << where;
        }
    }
}

// Blocks that start with zeros of either sign after a block of silence or of a negative level,
// and go on with a signal: the outputs that come out zero reach back into the previous block, and
// the signs of the zeros at the block's start decide them.
TEST_P(TapFilter, ZerosStartingABlockMatchTheDenseFilter) {
    const Case cases[] = {
        {"all positive", {0.1, 0.2, 0.5, 0.1, 0.3}, 7},
        {"all negative", {-0.1, -0.2, -0.5, -0.1, -0.3}, 7},
        {"negative main", {0.25, 0.0, -1.0, 0.0, 0.0}, 7},
        {"typical", {-0.05, -0.15, 0.6, -0.3, 0.1}, 4},
    };
    for (const Case& c : cases) {
        const std::vector<double> weights = Layout(c.five, c.spb);
        std::vector<double> impulse(1, 1.0);
        WeightedTx tx(weights, impulse, GetParam());
        std::vector<double> wave;
        std::vector<double> got;
        std::mt19937 rng(7);
        for (int round = 0; round < 60; ++round) {
            std::vector<double> before(weights.size() + rng() % 5, rng() % 2 ? 0.0 : -0.5);
            // Blocks shorter than the zeros, and blocks whose end lies a whole filter beyond them.
            const std::size_t zeros = rng() % (weights.size() + 3);
            std::vector<double> block(
                round % 2 ? rng() % (zeros + 1) : zeros + weights.size() + rng() % 50, 0.0);
            for (std::size_t i = 0; i < block.size(); ++i) {
                const unsigned r = rng() % 8;
                block[i] = i < zeros ? (r < 7 ? -0.0 : -0.5) : (r < 4 ? 0.5 : -0.5);
            }
            for (std::vector<double>* part : {&before, &block}) {
                wave.insert(wave.end(), part->begin(), part->end());
                tx.GetWave(part->data(), static_cast<long>(part->size()), nullptr);
                got.insert(got.end(), part->begin(), part->end());
            }
        }
        std::string where;
        EXPECT_TRUE(SameBits(got, Dense(weights, wave), where)) << c.name << " " << where;
    }
}

TEST_P(TapFilter, NonFiniteSampleReachesOnlyTheOutputsOfItsTaps) {
    const std::vector<double> weights = Layout({0.1, 0.2, 0.5, -0.2, 0.0}, 4);
    std::vector<double> impulse(8, 0.0);
    WeightedTx tx(weights, impulse, GetParam());
    std::vector<double> wave(60, 1.0);
    wave[10] = std::numeric_limits<double>::infinity();
    tx.GetWave(wave.data(), 60, nullptr);
    for (int i = 0; i < 60; ++i) {
        const bool hit = i == 10 || i == 14 || i == 18 || i == 22;  // weight 0 at delay 16
        EXPECT_EQ(std::isfinite(wave[i]), !hit) << i;
    }
}

}  // namespace
