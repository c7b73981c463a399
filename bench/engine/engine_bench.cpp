// Throughput of the FFT service and of interpolation at the sizes the receiver uses: impulse
// transforms (2^14), long waveform blocks (2^17 .. 2^20, and 3*2^19 for the 3*2^k size rule).
// With FFTW available the same transforms run through it as a yardstick.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "engine/fft/fft_service.hpp"
#include "engine/interpolation/interpolation.hpp"

#ifdef AMI_BENCH_FFTW
#include <fftw3.h>
#endif

namespace {

std::vector<double> randomValues(std::size_t count) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> v(count);
    for (double& d : v) d = u(rng);
    return v;
}

void fftSizes(benchmark::internal::Benchmark* b) {
    for (long n : {1L << 14, 1L << 17, 1L << 20, 3L << 19}) b->Arg(n);
    b->Unit(benchmark::kMillisecond);
}

void BM_RealForward(benchmark::State& state) {
    const auto x = randomValues(static_cast<std::size_t>(state.range(0)));
    ComplexBuffer out;
    for (auto _ : state) {
        RealForward(out, x);
        benchmark::DoNotOptimize(out.data.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    ReleaseAll();
}
BENCHMARK(BM_RealForward)->Apply(fftSizes);

// Each iteration restores the input first (a copy of 2n doubles, small beside the transform), so
// the data do not shrink by 1/n per pass into denormals.
void BM_ComplexInverse(benchmark::State& state) {
    const auto n = static_cast<std::uint32_t>(state.range(0));
    const auto source = randomValues(2 * static_cast<std::size_t>(n));
    ComplexBuffer buf(n);
    for (auto _ : state) {
        std::copy(source.begin(), source.end(), buf.data.begin());
        ComplexInverse(buf);
        benchmark::DoNotOptimize(buf.data.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    ReleaseAll();
}
BENCHMARK(BM_ComplexInverse)->Apply(fftSizes);

#ifdef AMI_BENCH_FFTW
// FFTW's real transform returns only n/2+1 points; RealForward also writes the mirrored half.
void BM_FftwRealForward(benchmark::State& state) {
    const auto n = static_cast<int>(state.range(0));
    const auto x = randomValues(static_cast<std::size_t>(n));
    double* in = fftw_alloc_real(n);
    fftw_complex* out = fftw_alloc_complex(n / 2 + 1);
    fftw_plan plan = fftw_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
    std::copy(x.begin(), x.end(), in);
    for (auto _ : state) {
        fftw_execute(plan);
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
}
BENCHMARK(BM_FftwRealForward)->Apply(fftSizes);

void BM_FftwComplexInverse(benchmark::State& state) {
    const auto n = static_cast<int>(state.range(0));
    const auto source = randomValues(2 * static_cast<std::size_t>(n));
    fftw_complex* data = fftw_alloc_complex(n);
    fftw_plan plan = fftw_plan_dft_1d(n, data, data, FFTW_BACKWARD, FFTW_MEASURE);
    double* d = reinterpret_cast<double*>(data);
    const double scale = 1.0 / n;
    for (auto _ : state) {
        std::copy(source.begin(), source.end(), d);
        fftw_execute(plan);
        for (int i = 0; i < 2 * n; ++i) d[i] *= scale;
        benchmark::DoNotOptimize(d);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    fftw_destroy_plan(plan);
    fftw_free(data);
}
BENCHMARK(BM_FftwComplexInverse)->Apply(fftSizes);
#endif

// 2^20 ascending abscissae over a 200-point curve, the shape of the amplitude-curve pass.
void interpolateOrdered(benchmark::State& state, const char* method) {
    std::vector<double> x(200);
    std::vector<double> y(200);
    for (std::size_t i = 0; i < x.size(); ++i) {
        x[i] = -1.0 + 2.0 * static_cast<double>(i) / 199.0;
        y[i] = std::tanh(3.0 * x[i]);
    }
    std::vector<double> xi(1 << 20);
    for (std::size_t k = 0; k < xi.size(); ++k) {
        xi[k] = -1.2 + 2.4 * static_cast<double>(k) / static_cast<double>(xi.size());
    }
    std::vector<double> out;
    for (auto _ : state) {
        Interpolate(method, x, y, xi, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(xi.size()));
}
void BM_InterpolateNr3Linear(benchmark::State& state) { interpolateOrdered(state, "NR3_linear"); }
void BM_InterpolateLinear(benchmark::State& state) { interpolateOrdered(state, "linear"); }
BENCHMARK(BM_InterpolateNr3Linear)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InterpolateLinear)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
