// Receiver AMI_GetWave (four CTLE stages and the VGA, 32 samples per bit) and AMI_Init
// (row_size 4096) on the database mkdb generates.
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
#include "support/ami_exports.hpp"

namespace {

constexpr double kBitTime = 1.0 / 10.3125e9;
constexpr int kSpb = 32;
constexpr double kDt = kBitTime / kSpb;

struct Receiver {
    testsupport::AmiInitFn init = nullptr;
    testsupport::AmiGetWaveFn getWave = nullptr;
    testsupport::AmiCloseFn close = nullptr;
    std::filesystem::path database;

    Receiver() {
        const testsupport::AmiExports lib = testsupport::LoadAmiExports(RX_LIBRARY_PATH);
        if (!lib.complete()) {
            std::fprintf(stderr, "%s\n", lib.error.c_str());
            std::exit(1);
        }
        init = lib.init;
        getWave = lib.getWave;
        close = lib.close;
        database =
            std::filesystem::temp_directory_path() / ("rx_bench_" + std::to_string(::getpid()));
        std::filesystem::create_directories(database);
        mkdb::writeRxDatabase(mkdb::defaultRxDescription(), database);
    }
    ~Receiver() {
        std::error_code ignored;
        std::filesystem::remove_all(database, ignored);
    }

    // Four high-gain CTLE stages and the VGA; no clock recovery.
    std::string Params() const {
        return "(Vanta10_Rx (Database_Path \"" + database.string() +
               "\") (ctle_hg_sel 1) (eqz_s4_ac_gain 12) (eqz_s4_dc_gain 2) (eqz_bw_sel 2)"
               " (vga_gain 3) (vga_bw_sel 3) (cdr_sel 1))";
    }

    void* Open(std::vector<double>& impulse) const {
        std::string text = Params();
        char* out = nullptr;
        char* msg = nullptr;
        void* handle = nullptr;
        if (init(impulse.data(), static_cast<std::int32_t>(impulse.size()), 0, kDt, kBitTime,
                 text.data(), &out, &handle, &msg) != 1) {
            std::fprintf(stderr, "AMI_Init failed: %s\n", msg ? msg : "");
            std::exit(1);
        }
        // Timing a cascade with stages missing would measure the wrong thing.
        if (msg && std::strstr(msg, "WARNING: No usable")) {
            std::fprintf(stderr, "database incomplete for the benchmark settings:\n%s\n", msg);
            std::exit(1);
        }
        return handle;
    }
};

Receiver& TheReceiver() {
    static Receiver receiver;
    return receiver;
}

std::vector<double> ChannelImpulse(std::size_t n) {
    std::vector<double> h(n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kSpb;  // in bits
        h[i] = t * std::exp(-t / 1.5) / kDt * 0.1;
    }
    return h;
}

std::vector<double> NrzWave(std::size_t n) {
    std::vector<double> wave(n);
    unsigned state = 0x7fff;
    double level = 0.4;
    for (std::size_t i = 0; i < n; ++i) {
        if (i % kSpb == 0) {
            const unsigned bit = ((state >> 14) ^ (state >> 13)) & 1u;
            state = ((state << 1) | bit) & 0x7fffu;
            level = bit ? 0.4 : -0.4;
        }
        wave[i] = level;
    }
    return wave;
}

void BM_RxGetWave(benchmark::State& state) {
    Receiver& rx = TheReceiver();
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    std::vector<double> impulse = ChannelImpulse(4096);
    void* handle = rx.Open(impulse);
    const std::vector<double> source = NrzWave(n);
    std::vector<double> wave(n);
    std::vector<double> clocks(n + 1);
    char* out = nullptr;
    for (auto _ : state) {
        wave = source;
        if (rx.getWave(wave.data(), static_cast<std::int32_t>(n), clocks.data(), &out, handle) !=
            1) {
            state.SkipWithError("AMI_GetWave failed");
            break;
        }
        benchmark::DoNotOptimize(wave.data());
    }
    state.counters["samples_per_second"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate);
    rx.close(handle);
}
BENCHMARK(BM_RxGetWave)->Arg(1 << 14)->Arg(1 << 17)->Unit(benchmark::kMillisecond);

void BM_RxInit(benchmark::State& state) {
    Receiver& rx = TheReceiver();
    const std::vector<double> source = ChannelImpulse(4096);
    std::vector<double> impulse;
    for (auto _ : state) {
        impulse = source;
        void* handle = rx.Open(impulse);
        rx.close(handle);
    }
    state.counters["samples_per_second"] =
        benchmark::Counter(4096.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RxInit)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
