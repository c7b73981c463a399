// Throughput of the transmitter's waveform path: AMI_GetWave-sized blocks of 2^14 samples at 32
// samples per bit, with all four taps in use, against a plain vectorised five-tap loop and the
// dense filter the model stands for.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "framework/conv_filt.hpp"
#include "mkdb/tx_database_writer.hpp"
#include "mkdb/writers.hpp"
#include "support/ami_exports.hpp"

namespace {

constexpr int kSpb = 32;
constexpr long kBlock = 1 << 14;

std::vector<double> Prbs(std::size_t n) {
    std::mt19937 rng(1);
    std::vector<double> v(n);
    for (std::size_t i = 0; i < n; i += kSpb) {
        const double level = (rng() & 1) ? 0.5 : -0.5;
        for (std::size_t j = i; j < std::min(n, i + kSpb); ++j) v[j] = level;
    }
    return v;
}

// Silent: a block of zeros, as at the start of many simulations. Every output is zero, and a zero
// output's sign depends on the signs of the zeros around it, which the model settles for the block
// before it can take such outputs four at a time.
template <bool Silent>
void TxGetWave(benchmark::State& state) {
    const testsupport::AmiExports lib = testsupport::LoadAmiExports(TX_LIBRARY_PATH);
    if (!lib.complete()) {
        state.SkipWithError(lib.error.c_str());
        return;
    }
    const auto init = lib.init;
    const auto getWave = lib.getWave;
    const auto close = lib.close;

    const auto dir = std::filesystem::temp_directory_path() / "tx_bench_db";
    std::filesystem::create_directories(dir);
    mkdb::writeTxDatabase(mkdb::defaultTxDescription(), dir);
    std::string params = "(Vanta10_Tx (Database_Path \"" + dir.string() +
                         "\") (Vod 31) (ptap2 3) (ptap1 8) (tap1 20) (tap2 6) "
                         "(inv_ptap2 1) (inv_ptap1 1) (inv_tap1 1) (inv_tap2 0))";
    std::vector<double> impulse(4096, 0.0);
    impulse[0] = 1.0;
    char* out = nullptr;
    char* msg = nullptr;
    void* handle = nullptr;
    if (init(impulse.data(), 4096, 0, 1e-10 / kSpb, 1e-10, params.data(), &out, &handle, &msg) !=
        1) {
        state.SkipWithError("AMI_Init failed");
        close(handle);
        return;
    }

    const std::vector<double> source = Silent ? std::vector<double>(kBlock, 0.0) : Prbs(kBlock);
    std::vector<double> wave(kBlock);
    std::vector<double> clocks(kBlock + 1);
    for (auto _ : state) {
        std::copy(source.begin(), source.end(), wave.begin());
        benchmark::DoNotOptimize(getWave(wave.data(), kBlock, clocks.data(), &out, handle));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
    close(handle);
}
void BM_TxGetWave(benchmark::State& state) { TxGetWave<false>(state); }
BENCHMARK(BM_TxGetWave);
void BM_TxGetWaveSilent(benchmark::State& state) { TxGetWave<true>(state); }
BENCHMARK(BM_TxGetWaveSilent);

// The reference: the same five taps, one bit apart, as a plain loop the compiler vectorises,
// continuing a history of four bits from block to block, on blocks copied in as above. Built
// twice: with the project's flags (two samples per instruction) and for AVX (four), which the
// model also uses where the processor has it.
template <bool Avx>
void FiveTaps(const double* x, double* y, std::ptrdiff_t n, const double* w);

template <>
void FiveTaps<false>(const double* x, double* y, std::ptrdiff_t n, const double* w) {
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        y[i] = w[0] * x[i] + w[1] * x[i - kSpb] + w[2] * x[i - 2 * kSpb] + w[3] * x[i - 3 * kSpb] +
               w[4] * x[i - 4 * kSpb];
    }
}

template <>
[[gnu::target("avx")]] void FiveTaps<true>(const double* x, double* y, std::ptrdiff_t n,
                                           const double* w) {
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        y[i] = w[0] * x[i] + w[1] * x[i - kSpb] + w[2] * x[i - 2 * kSpb] + w[3] * x[i - 3 * kSpb] +
               w[4] * x[i - 4 * kSpb];
    }
}

template <bool Avx>
void BM_FiveTapReference(benchmark::State& state) {
    const double w[5] = {-0.01, -0.05, 0.6, -0.25, 0.03};
    constexpr std::ptrdiff_t kHistory = 4 * kSpb;
    std::vector<double> window(kHistory + kBlock, 0.0);
    const std::vector<double> source = Prbs(kBlock);
    std::vector<double> wave(kBlock);
    for (auto _ : state) {
        std::copy(source.begin(), source.end(), wave.begin());
        std::copy(wave.begin(), wave.end(), window.begin() + kHistory);
        FiveTaps<Avx>(window.data() + kHistory, wave.data(), kBlock, w);
        std::copy(window.end() - kHistory, window.end(), window.begin());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_FiveTapReference<false>);
BENCHMARK(BM_FiveTapReference<true>);

// The dense filter over the same coefficients, for comparison.
void BM_DenseTapFilter(benchmark::State& state) {
    std::vector<double> num(5 * kSpb, 0.0), den(5 * kSpb, 0.0);
    const double five[] = {-0.01, -0.05, 0.6, -0.25, 0.03};
    for (int j = 0; j < 5; ++j) num[j * kSpb] = five[j];
    den[0] = 1.0;
    ConvFilt filter(num, den, std::vector<double>(num.size(), 0.0));
    const std::vector<double> source = Prbs(kBlock);
    for (auto _ : state) {
        double sum = 0;
        for (double x : source) sum += filter.Filter(x);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_DenseTapFilter);

}  // namespace
