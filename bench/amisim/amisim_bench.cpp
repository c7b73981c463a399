// Time-domain throughput of a whole link through the kit's models: PRBS stimulus, transmitter
// AMI_GetWave, channel convolution, receiver AMI_GetWave and eye accumulation, in blocks.
#include <benchmark/benchmark.h>
#include <gsl/gsl_errno.h>

#include "amisim/kit_files.hpp"
#include "amisim/link_sim.hpp"

namespace {

void timeDomainLink(benchmark::State& state) {
    gsl_set_error_handler_off();
    amisim::LinkConfig cfg;
    cfg.kitDir = KIT_DIR;
    cfg.files = amisim::locateKit(cfg.kitDir, {});
    cfg.runStat = false;
    cfg.runTd = true;
    cfg.samplesPerBit = 32;
    cfg.bits = static_cast<std::uint64_t>(state.range(0));
    cfg.ignoreBits = 1000;
    cfg.quiet = true;
    cfg.rxOverrides = {{"eqz_s1_ac_gain", "15"}};
    std::uint64_t bits = 0;
    for (auto _ : state) {
        amisim::LinkResult r = amisim::runLink(cfg);
        benchmark::DoNotOptimize(r.td->eyeHeight);
        bits += r.tdBits;
    }
    state.counters["bits_per_second"] =
        benchmark::Counter(static_cast<double>(bits), benchmark::Counter::kIsRate);
    state.counters["samples_per_second"] =
        benchmark::Counter(static_cast<double>(bits) * 32, benchmark::Counter::kIsRate);
}

}  // namespace

// Includes the two AMI_Init calls and the channel build once per run, as a user's run does.
BENCHMARK(timeDomainLink)->Arg(20000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(2);

BENCHMARK_MAIN();
