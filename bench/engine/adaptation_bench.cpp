// Cost of the adaptation's own work at the sizes AMI_Init meets (16384 bits at 32 samples per
// bit), beside references measured in the same run: one real transform of the stimulus length
// (the unit of the stimulus build) and one plain pass over the samples (the unit of the eye
// measurement). The receiver's processing chain is stood in for by a copy, so the sweep figure
// is the adaptation's overhead per candidate on top of the chain.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numeric>
#include <vector>

#include "engine/adaptation/adaptation.hpp"
#include "engine/adaptation/adaptation_sweep.hpp"
#include "engine/adaptation/stimulus_pattern.hpp"
#include "engine/adaptation/stimulus_waveform.hpp"
#include "engine/fft/fft_service.hpp"

namespace {

constexpr double kBitRate = 10.3125e9;
constexpr int kSpb = 32;
const ModelGrid kGrid{kBitRate, kSpb};

// A lossy channel of 128 unit intervals, in 1/s.
std::vector<double> channel() {
    std::vector<double> h(128 * kSpb);
    const double tau = 0.8 * kSpb;
    for (std::size_t j = 0; j < h.size(); ++j) {
        h[j] = std::exp(-static_cast<double>(j) / tau) / (tau * kGrid.SampleInterval());
    }
    return h;
}

const std::vector<double>& stimulus() {
    static const std::vector<double> y = BuildReceivedWaveform(
        ExpandPattern(SweepPattern(), kSweepBits), kGrid, channel(), kGrid.SampleInterval());
    return y;
}

void BM_Reference_RealForward(benchmark::State& state) {
    const std::vector<double>& x = stimulus();
    ComplexBuffer out;
    for (auto _ : state) {
        RealForward(out, x);
        benchmark::DoNotOptimize(out.data.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(x.size()));
    ReleaseAll();
}
BENCHMARK(BM_Reference_RealForward)->Unit(benchmark::kMillisecond);

// A repeated build (the pattern's spectrum kept from the one before, as for a model's next
// instance) or a first one (two patterns in turn, so that the one kept never fits), its pattern
// half on the calling thread or beside the channel's on a second lane.
void BM_BuildReceivedWaveform(benchmark::State& state) {
    const bool first = state.range(0) != 0;
    const auto lanes = static_cast<std::size_t>(state.range(1));
    const std::vector<std::int32_t> symbols = ExpandPattern(SweepPattern(), kSweepBits);
    std::vector<std::int32_t> inverted = symbols;
    for (std::int32_t& v : inverted) v = -v;
    const std::vector<double> h = channel();
    bool flip = false;
    for (auto _ : state) {
        flip = first && !flip;
        std::vector<double> y = BuildReceivedWaveform(flip ? inverted : symbols, kGrid, h,
                                                      kGrid.SampleInterval(), lanes);
        benchmark::DoNotOptimize(y.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(symbols.size()) * kSpb);
}
BENCHMARK(BM_BuildReceivedWaveform)
    ->ArgNames({"first", "lanes"})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({1, 2})
    ->Unit(benchmark::kMillisecond);

void BM_Reference_Pass(benchmark::State& state) {
    const std::vector<double>& x = stimulus();
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::inner_product(x.begin(), x.end(), x.begin(), 0.0));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(x.size()));
}
BENCHMARK(BM_Reference_Pass)->Unit(benchmark::kMicrosecond);

void BM_SamplingPhase(benchmark::State& state) {
    const std::vector<double>& x = stimulus();
    EyeMeter meter;
    for (auto _ : state) benchmark::DoNotOptimize(meter.SamplingPhase(x, kSpb));
    state.SetItemsProcessed(state.iterations() * static_cast<long>(x.size()));
}
BENCHMARK(BM_SamplingPhase)->Unit(benchmark::kMicrosecond);

void BM_MeasureEye(benchmark::State& state) {
    const std::vector<double>& x = stimulus();
    EyeMeter meter;
    for (auto _ : state) benchmark::DoNotOptimize(meter.Measure(x, {kSweepBits, kSpb, 0}));
    state.SetItemsProcessed(state.iterations() * static_cast<long>(x.size()));
}
BENCHMARK(BM_MeasureEye)->Unit(benchmark::kMicrosecond);

class CopyChain : public CandidateEvaluator {
  public:
    void Evaluate(std::span<const double> s, const CandidateSetting& c, DfeRun,
                  SampleBuffer& out) override {
        out.resize(s.size());
        const double g = 0.5 + 0.1 * c.vga;
        for (std::size_t i = 0; i < s.size(); ++i) out[i] = g * s[i];
    }
};

// The kit's high-gain sweep: 5 DC gains x 29 boosts x 8 VGA gains = 1160 candidates.
void BM_SweepOverheadPerCandidate(benchmark::State& state) {
    const std::vector<double>& x = stimulus();
    CandidateGrid grid;
    grid.dcValues = {0, 1, 2, 3, 4};
    for (int b = 0; b < 29; ++b) grid.boostValues.push_back(b);
    for (int g = 0; g < 8; ++g) grid.vgaGains.push_back(g);
    SweepOptions options;
    options.configuredDcGain = 4;
    CopyChain chain;
    for (auto _ : state) {
        SweepOutcome out = RunSweep(chain, grid, x, options);
        benchmark::DoNotOptimize(out.winner);
    }
    state.SetItemsProcessed(state.iterations() * 1160);
}
BENCHMARK(BM_SweepOverheadPerCandidate)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
