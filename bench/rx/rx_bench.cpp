// Receiver AMI_GetWave (four CTLE stages and the VGA, 32 samples per bit) and AMI_Init
// (row_size 4096) on the database mkdb generates, against the same work written leanly on FFTW
// in this program the whole-window way: per stage a real-input transform of the overlap-save
// window (twice the block), a complex multiply, a real inverse and the amplitude curve, on
// measured FFTW plans (made once, before the timing, so their seconds of planning do not count).
#include <benchmark/benchmark.h>
#include <fftw3.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "line_impulse.hpp"
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

    void* Open(std::vector<double>& impulse, double sampleInterval = kDt) const {
        std::string text = Params();
        char* out = nullptr;
        char* msg = nullptr;
        void* handle = nullptr;
        if (init(impulse.data(), static_cast<std::int32_t>(impulse.size()), 0, sampleInterval,
                 kBitTime, text.data(), &out, &handle, &msg) != 1) {
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

std::vector<double> ChannelImpulse(std::size_t n) { return LineImpulse(n, kSpb, kDt); }

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

// Five stages on the window of a block of n samples, FFT length 2n (the model's rule for these
// lengths), each a smooth low pass followed by a saturating curve of 81 points.
class LeanReference {
  public:
    explicit LeanReference(std::size_t n) : n_(n), size_(2 * n) {
        window_ = fftw_alloc_real(size_);
        work_ = fftw_alloc_real(2 * (size_ / 2 + 1));
        spectrum_ = fftw_alloc_complex(size_ / 2 + 1);
        std::fill(window_, window_ + size_, 0.0);
        // Measuring overwrites the arrays it plans for; they are filled afterwards.
        forward_ = fftw_plan_dft_r2c_1d(static_cast<int>(size_), work_, spectrum_, FFTW_MEASURE);
        inverse_ = fftw_plan_dft_c2r_1d(static_cast<int>(size_), spectrum_, work_, FFTW_MEASURE);
        for (int s = 0; s < 5; ++s) {
            std::vector<std::complex<double>> h(size_ / 2 + 1);
            for (std::size_t k = 0; k < h.size(); ++k) {
                const double f = static_cast<double>(k) / (static_cast<double>(size_) * kDt);
                h[k] = 1.0 / (std::complex<double>(1.0, f / (8e9 + 2e9 * s)) *
                              static_cast<double>(size_));
            }
            stages_.push_back(std::move(h));
        }
        for (int i = 0; i <= 80; ++i) {
            curveIn_.push_back(-2.0 + 0.05 * i);
            curveOut_.push_back(0.6 * std::tanh(curveIn_.back() / 0.6));
        }
    }
    ~LeanReference() {
        fftw_destroy_plan(forward_);
        fftw_destroy_plan(inverse_);
        fftw_free(window_);
        fftw_free(work_);
        fftw_free(spectrum_);
    }

    void Process(double* block) {
        std::copy(window_ + n_, window_ + size_, window_);
        std::copy(block, block + n_, window_ + (size_ - n_));
        std::copy(window_, window_ + size_, work_);
        for (const auto& h : stages_) {
            fftw_execute(forward_);
            auto* x = reinterpret_cast<std::complex<double>*>(spectrum_);
            for (std::size_t k = 0; k < h.size(); ++k) {
                const double a = x[k].real(), b = x[k].imag();
                x[k] = {a * h[k].real() - b * h[k].imag(), a * h[k].imag() + b * h[k].real()};
            }
            fftw_execute(inverse_);
            for (std::size_t i = 0; i < size_; ++i) work_[i] = Curve(work_[i]);
        }
        std::copy(work_ + (size_ - n_), work_ + size_, block);
    }

  private:
    // The table's inputs are evenly spaced: the interval follows from the value directly.
    double Curve(double v) const {
        const double position = (v - curveIn_.front()) * 20.0;
        const std::size_t j = static_cast<std::size_t>(
            std::clamp(std::floor(position), 0.0, static_cast<double>(curveIn_.size() - 2)));
        return curveOut_[j] + (v - curveIn_[j]) / (curveIn_[j + 1] - curveIn_[j]) *
                                  (curveOut_[j + 1] - curveOut_[j]);
    }

    std::size_t n_, size_;
    double* window_;
    double* work_;
    fftw_complex* spectrum_;
    fftw_plan forward_, inverse_;
    std::vector<std::vector<std::complex<double>>> stages_;
    std::vector<double> curveIn_, curveOut_;
};

void BM_LeanReference(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    LeanReference reference(n);
    const std::vector<double> source = NrzWave(n);
    std::vector<double> wave(n);
    for (auto _ : state) {
        wave = source;
        reference.Process(wave.data());
        benchmark::DoNotOptimize(wave.data());
    }
    state.counters["samples_per_second"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LeanReference)->Arg(1 << 14)->Arg(1 << 17)->Unit(benchmark::kMillisecond);

// Heap held by one receiver instance after AMI_Init and a first block of 2^17 samples.
void BM_RxMemoryPerInstance(benchmark::State& state) {
    Receiver& rx = TheReceiver();
    const std::size_t n = 1 << 17;
    const std::vector<double> source = NrzWave(n);
    std::vector<double> wave(n);
    std::vector<double> clocks(n + 1);
    char* out = nullptr;
    double bytes = 0;
    for (auto _ : state) {
        std::vector<double> impulse = ChannelImpulse(4096);
        const auto before = mallinfo2();
        void* handle = rx.Open(impulse);
        wave = source;
        rx.getWave(wave.data(), static_cast<std::int32_t>(n), clocks.data(), &out, handle);
        const auto after = mallinfo2();
        bytes = static_cast<double>((after.uordblks + after.hblkhd) -
                                    (before.uordblks + before.hblkhd));
        rx.close(handle);
    }
    state.counters["bytes_per_instance"] = bytes;
    std::printf("receiver instance after a 2^17-sample block: %.1f MB\n", bytes / 1048576.0);
}
BENCHMARK(BM_RxMemoryPerInstance)->Iterations(1)->Unit(benchmark::kMillisecond);

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

// The set-up a simulator waits for at other counts of samples per bit (users run 21 and 25):
// AMI_Init and the first block of 1000 samples, which builds the stage filters; the kit's 32
// samples per bit in the same run is the reference.
void BM_RxSetUpAtSpb(benchmark::State& state) {
    Receiver& rx = TheReceiver();
    const double dt = kBitTime / static_cast<double>(state.range(0));
    const std::vector<double> source = ChannelImpulse(4096);
    std::vector<double> impulse;
    std::vector<double> wave(1000);
    std::vector<double> clocks(wave.size() + 1);
    char* out = nullptr;
    for (auto _ : state) {
        impulse = source;
        void* handle = rx.Open(impulse, dt);
        std::fill(wave.begin(), wave.end(), 0.4);
        rx.getWave(wave.data(), static_cast<std::int32_t>(wave.size()), clocks.data(), &out,
                   handle);
        rx.close(handle);
    }
}
BENCHMARK(BM_RxSetUpAtSpb)->Arg(32)->Arg(21)->Arg(25)->Unit(benchmark::kMillisecond);

// Blocks of 1000 samples after the set-up, at the same counts of samples per bit.
void BM_RxBlockAtSpb(benchmark::State& state) {
    Receiver& rx = TheReceiver();
    const double dt = kBitTime / static_cast<double>(state.range(0));
    std::vector<double> impulse = ChannelImpulse(4096);
    void* handle = rx.Open(impulse, dt);
    const std::vector<double> source = NrzWave(1000);
    std::vector<double> wave(source.size());
    std::vector<double> clocks(wave.size() + 1);
    char* out = nullptr;
    for (auto _ : state) {
        wave = source;
        rx.getWave(wave.data(), static_cast<std::int32_t>(wave.size()), clocks.data(), &out,
                   handle);
        benchmark::DoNotOptimize(wave.data());
    }
    state.counters["samples_per_second"] =
        benchmark::Counter(1000.0, benchmark::Counter::kIsIterationInvariantRate);
    rx.close(handle);
}
BENCHMARK(BM_RxBlockAtSpb)->Arg(32)->Arg(21)->Arg(25)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
