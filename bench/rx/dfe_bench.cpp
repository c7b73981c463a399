// Cost of the decision step: receiver AMI_GetWave (four CTLE stages and the VGA, 32 samples per
// bit) with the adaptive DFE and clock recovery, against the same cascade without either,
// measured in the same run; and the decision step alone on the same block, built in. Each DFE
// first runs past its estimation window, so that the timed blocks include the feedback and the
// tap updates.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "mkdb/writers.hpp"
#include "rx/dfe_equaliser.hpp"
#include "support/ami_exports.hpp"

namespace {

constexpr double kBitTime = 1.0 / 10.3125e9;
constexpr int kSpb = 32;
constexpr double kDt = kBitTime / kSpb;

class Library {
  public:
    Library() : exports_(testsupport::LoadAmiExports(RX_LIBRARY_PATH)) {
        if (!exports_.complete()) {
            std::fprintf(stderr, "%s\n", exports_.error.c_str());
            std::exit(1);
        }
        database_ =
            std::filesystem::temp_directory_path() / ("dfe_bench_" + std::to_string(::getpid()));
        std::filesystem::create_directories(database_);
        mkdb::writeRxDatabase(mkdb::defaultRxDescription(), database_);
    }
    ~Library() {
        std::error_code ignored;
        std::filesystem::remove_all(database_, ignored);
    }

    // Four high-gain CTLE stages and the VGA, with `decision` (the DFE and clock settings).
    void* Open(const std::string& decision) const {
        std::string text = "(Vanta10_Rx (Database_Path \"" + database_.string() +
                           "\") (ctle_hg_sel 1) (eqz_s4_ac_gain 12) (eqz_s4_dc_gain 2)"
                           " (eqz_bw_sel 2) (vga_gain 3) (vga_bw_sel 3) " +
                           decision + ")";
        std::vector<double> impulse(4096, 0.0);
        for (std::size_t i = 0; i < impulse.size(); ++i) {
            const double t = static_cast<double>(i) / kSpb;
            impulse[i] = t * std::exp(-t / 1.5) / kDt * 0.1;
        }
        char* out = nullptr;
        char* msg = nullptr;
        void* handle = nullptr;
        if (exports_.init(impulse.data(), static_cast<std::int32_t>(impulse.size()), 0, kDt,
                          kBitTime, text.data(), &out, &handle, &msg) != 1 ||
            (msg && (std::strstr(msg, "WARNING: No usable") ||
                     std::strstr(msg, "WARNING: The DFE map")))) {
            std::fprintf(stderr, "the benchmark receiver is not set up as intended:\n%s\n",
                         msg ? msg : "");
            std::exit(1);
        }
        return handle;
    }
    bool GetWave(std::vector<double>& wave, std::vector<double>& clocks, void* handle) const {
        char* out = nullptr;
        return exports_.getWave(wave.data(), static_cast<std::int32_t>(wave.size()), clocks.data(),
                                &out, handle) == 1;
    }
    void Close(void* handle) const { exports_.close(handle); }

  private:
    testsupport::AmiExports exports_;
    std::filesystem::path database_;
};

const Library& TheLibrary() {
    static const Library library;
    return library;
}

// PRBS-15 bits through a mild low pass, so that the clock has transitions to follow and the
// DFE post-cursors to learn.
std::vector<double> ReceivedWave(std::size_t n) {
    std::vector<double> wave(n);
    unsigned state = 0x7fff;
    double target = 0.4, value = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        if (i % kSpb == 0) {
            const unsigned bit = ((state >> 14) ^ (state >> 13)) & 1u;
            state = ((state << 1) | bit) & 0x7fffu;
            target = bit ? 0.4 : -0.4;
        }
        value += (target - value) / 24.0;
        wave[i] = value;
    }
    return wave;
}

void RunGetWave(benchmark::State& state, const std::string& decision) {
    const Library& lib = TheLibrary();
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    void* handle = lib.Open(decision);
    const std::vector<double> source = ReceivedWave(n);
    std::vector<double> wave(n);
    std::vector<double> clocks(n + 1);
    // Past the 5000 bits of level estimation.
    for (std::size_t bits = 0; bits < 8000; bits += n / kSpb) {
        wave = source;
        lib.GetWave(wave, clocks, handle);
    }
    for (auto _ : state) {
        wave = source;
        if (!lib.GetWave(wave, clocks, handle)) {
            state.SkipWithError("AMI_GetWave failed");
            break;
        }
        benchmark::DoNotOptimize(wave.data());
    }
    state.counters["samples_per_second"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate);
    lib.Close(handle);
}

// The reference: the same cascade without DFE and clock recovery.
void BM_GetWaveWithoutDecisionStep(benchmark::State& state) {
    RunGetWave(state, "(dfe (mode 0)) (cdr_sel 1)");
}
// Adaptive DFE and clock recovery (low bandwidth), clock times out.
void BM_GetWaveWithDfeAndClock(benchmark::State& state) {
    RunGetWave(state,
               "(dfe (mode 2)) (cdr_sel 0) (float_start 8) (DFE_tap_length \"Default\")"
               " (tap_1 0) (tap_2 0) (tap_3 0) (tap_4 0) (tap_5 0) (tap_6 0) (tap_7 0)"
               " (tap_8 0) (tap_9 0) (tap_10 0) (tap_11 0)");
}

// The decision step alone (what the DFE adds to a block), on the cascade's input wave.
void BM_DecisionStepAlone(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    DfeSetup setup;
    setup.sampleInterval = kDt;
    setup.bitTime = kBitTime;
    const double fullScale[11] = {0.529,  0.212, 0.212, 0.105, 0.105, 0.0517,
                                  0.0517, 0.105, 0.105, 0.105, 0.105};
    for (int k = 0; k < 11; ++k) {
        setup.limits.upperLimit.push_back(fullScale[k]);
        setup.limits.lowerLimit.push_back(k == 0 ? 0.0 : -fullScale[k]);
        setup.limits.codeSpan.push_back(k == 0 ? 127 : 254);
        setup.limits.oneSided.push_back(k == 0);
    }
    setup.codes.assign(11, 0);
    DecisionFeedbackEqualiser dfe;
    if (dfe.Setup(setup) != 0) {
        state.SkipWithError("DFE set-up failed");
        return;
    }
    const std::vector<double> source = ReceivedWave(n);
    std::vector<double> wave(n);
    double start = 0;
    for (std::size_t bits = 0; bits < 8000; bits += n / kSpb) {
        wave = source;
        dfe.Process(wave.data(), static_cast<std::int64_t>(n), start);
        start += static_cast<double>(n) * kDt;
    }
    for (auto _ : state) {
        wave = source;
        const DFE::BlockResult r = dfe.Process(wave.data(), static_cast<std::int64_t>(n), start);
        start += static_cast<double>(n) * kDt;
        benchmark::DoNotOptimize(r.clockTimes.data());
    }
    state.counters["samples_per_second"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_DecisionStepAlone)->Arg(1 << 14)->Arg(1 << 17)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetWaveWithoutDecisionStep)->Arg(1 << 14)->Arg(1 << 17)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetWaveWithDfeAndClock)->Arg(1 << 14)->Arg(1 << 17)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
