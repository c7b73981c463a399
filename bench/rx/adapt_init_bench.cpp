// Receiver AMI_Init with the CTLE/VGA auto-adaptation (ctle_mode 1) on the database mkdb
// generates, at 10.3125 Gb/s and 32 samples per bit, on the impulse response of amisim's default
// 20 dB line, loaded through dlopen as a simulator loads the library. References measured in the
// same run: the same AMI_Init without the adaptation, and one FFTW real transform of the sweep's
// stimulus length (16384 bits of 32 samples), the unit of the adaptation's work. The adapting runs
// come on one thread and on the model's default (threads:0), in wall-clock time; their CPU
// column counts the calling thread only. The model keeps a little between instances of a process
// (transform plans, the stimulus pattern's spectrum): FirstInAProcess measures an instance that
// finds none of it, each iteration on a fresh copy of the library.
#include <benchmark/benchmark.h>
#include <fftw3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "amisim/channel/channel.hpp"
#include "mkdb/writers.hpp"
#include "support/ami_exports.hpp"

namespace {

constexpr double kBitTime = 1.0 / 10.3125e9;
constexpr int kSpb = 32;
constexpr double kDt = kBitTime / kSpb;
constexpr int kStimulusSamples = 16384 * kSpb;

class Receiver {
  public:
    Receiver() : exports_(testsupport::LoadAmiExports(RX_LIBRARY_PATH)) {
        if (!exports_.complete()) {
            std::fprintf(stderr, "%s\n", exports_.error.c_str());
            std::exit(1);
        }
        database_ = std::filesystem::temp_directory_path() /
                    ("adapt_init_bench_" + std::to_string(::getpid()));
        std::filesystem::create_directories(database_);
        mkdb::writeRxDatabase(mkdb::defaultRxDescription(), database_);
        impulse_ = amisim::buildLossyLine(amisim::LossyLineOptions{}, kDt, kSpb).impulse;
    }
    ~Receiver() {
        std::error_code ignored;
        std::filesystem::remove_all(database_, ignored);
    }

    // Loads a fresh copy of the library, whose process-wide state is its own (never unloaded).
    testsupport::AmiExports FreshCopy() const {
        static int copies = 0;
        const std::filesystem::path copy =
            database_ / ("rx_copy_" + std::to_string(++copies) + ".so");
        std::filesystem::copy_file(RX_LIBRARY_PATH, copy);
        return testsupport::LoadAmiExports(copy.string());
    }

    // AMI_Init and AMI_Close with `settings`; the message of the last call.
    bool InitAndClose(const std::string& settings, std::string& message) const {
        return InitAndClose(exports_, settings, message);
    }
    bool InitAndClose(const testsupport::AmiExports& exports, const std::string& settings,
                      std::string& message) const {
        std::string text =
            "(Vanta10_Rx (Database_Path \"" + database_.string() + "\") " + settings + ")";
        std::vector<double> impulse = impulse_;
        char* out = nullptr;
        char* msg = nullptr;
        void* handle = nullptr;
        const bool ok = exports.init(impulse.data(), static_cast<std::int32_t>(impulse.size()), 0,
                                     kDt, kBitTime, text.data(), &out, &handle, &msg) == 1;
        message = msg ? msg : "";
        exports.close(handle);
        return ok;
    }

  private:
    testsupport::AmiExports exports_;
    std::filesystem::path database_;
    std::vector<double> impulse_;
};

const Receiver& TheReceiver() {
    static const Receiver receiver;
    return receiver;
}

void RunInit(benchmark::State& state, const std::string& settings, bool adapting) {
    const Receiver& rx = TheReceiver();
    std::string message;
    for (auto _ : state) {
        if (!rx.InitAndClose(settings, message)) {
            state.SkipWithError("AMI_Init failed");
            return;
        }
    }
    const bool adapted = message.find("After adaptaion: ") != std::string::npos;
    if (adapted != adapting || message.find("did not run") != std::string::npos ||
        message.find("DFE failed") != std::string::npos) {
        std::fprintf(stderr, "%s\n", message.c_str());
        state.SkipWithError("the receiver did not run as intended");
    }
}

// The references.
void BM_Reference_InitWithoutAdaptation(benchmark::State& state) {
    RunInit(state, "(ctle_mode 0) (dfe (mode 2))", false);
}

void BM_Reference_StimulusTransform(benchmark::State& state) {
    double* samples = fftw_alloc_real(kStimulusSamples + 2);
    auto* bins = reinterpret_cast<fftw_complex*>(samples);
    const fftw_plan plan = fftw_plan_dft_r2c_1d(kStimulusSamples, samples, bins, FFTW_ESTIMATE);
    for (int i = 0; i < kStimulusSamples; ++i) samples[i] = (i % 101) * 0.01 - 0.5;
    for (auto _ : state) {
        fftw_execute(plan);
        benchmark::DoNotOptimize(samples[1]);
    }
    fftw_destroy_plan(plan);
    fftw_free(samples);
}

// The adaptation on as many threads as the argument says (0: the model's default, the
// machine's cores), through the variable a simulator would set; the time is wall-clock time.
void RunAdaptingInit(benchmark::State& state, const std::string& settings) {
    const long threads = state.range(0);
    if (threads > 0) {
        setenv("V10KX_AMI_THREADS", std::to_string(threads).c_str(), 1);
    } else {
        unsetenv("V10KX_AMI_THREADS");
    }
    RunInit(state, settings, true);
    unsetenv("V10KX_AMI_THREADS");
}

// The kit's defaults in an instance that is the first of its process.
void BM_AdaptingInit_FirstInAProcess(benchmark::State& state) {
    const Receiver& rx = TheReceiver();
    const long threads = state.range(0);
    if (threads > 0) {
        setenv("V10KX_AMI_THREADS", std::to_string(threads).c_str(), 1);
    } else {
        unsetenv("V10KX_AMI_THREADS");
    }
    std::string message;
    for (auto _ : state) {
        state.PauseTiming();
        const testsupport::AmiExports fresh = rx.FreshCopy();
        state.ResumeTiming();
        if (!fresh.complete() ||
            !rx.InitAndClose(fresh, "(ctle_mode 1) (dfe (mode 2)) (cdr_sel 0)", message) ||
            message.find("After adaptaion: ") == std::string::npos) {
            state.SkipWithError("AMI_Init of a fresh copy did not adapt");
            break;
        }
    }
    unsetenv("V10KX_AMI_THREADS");
}

// The kit's defaults: the one-stage high-data-rate CTLE (16 boosts x 8 VGA gains), the adaptive
// DFE with its second stage.
void BM_AdaptingInit_KitDefaults(benchmark::State& state) {
    RunAdaptingInit(state, "(ctle_mode 1) (dfe (mode 2)) (cdr_sel 0)");
}
// The same without the DFE's second stage.
void BM_AdaptingInit_DfeOff(benchmark::State& state) {
    RunAdaptingInit(state, "(ctle_mode 1) (dfe (mode 0)) (cdr_sel 0)");
}
// The four-stage high-gain CTLE: 29 boosts x 8 VGA gains.
void BM_AdaptingInit_HighGain(benchmark::State& state) {
    RunAdaptingInit(state, "(ctle_mode 1) (ctle_hg_sel 1) (dfe (mode 2)) (cdr_sel 0)");
}

BENCHMARK(BM_Reference_StimulusTransform)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reference_InitWithoutAdaptation)->Unit(benchmark::kMillisecond);
// Each adapting case on one thread and on the machine's threads (0), a fixed number of times by
// the wall clock.
void OnOneAndAllThreads(benchmark::internal::Benchmark* b) {
    b->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
}
BENCHMARK(BM_AdaptingInit_KitDefaults)->Apply(OnOneAndAllThreads)->Iterations(3);
BENCHMARK(BM_AdaptingInit_FirstInAProcess)->Apply(OnOneAndAllThreads)->Iterations(3);
BENCHMARK(BM_AdaptingInit_DfeOff)->Apply(OnOneAndAllThreads)->Iterations(3);
BENCHMARK(BM_AdaptingInit_HighGain)->Apply(OnOneAndAllThreads)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
