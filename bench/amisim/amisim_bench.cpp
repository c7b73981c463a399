// Throughput of the simulator: the whole time-domain link through the kit's models (bits per
// second at 32 samples per bit), and the statistical eye of the built-in line with the jitter
// the models report against a jitter far beyond a unit interval, which is cut at 2 UI so that
// its work stays within a small factor of the ordinary one.
#include <benchmark/benchmark.h>
#include <gsl/gsl_errno.h>

#include "amisim/channel.hpp"
#include "amisim/kit_files.hpp"
#include "amisim/link_sim.hpp"
#include "amisim/stat_eye.hpp"

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

// Jitter in unit intervals: range(0) / 1000 rms, plus the reported dual Diracs' share.
void statisticalEye(benchmark::State& state) {
    const double bitTime = 1 / 10.3125e9;
    const int spb = 32;
    amisim::LossyLineOptions line;
    const amisim::ChannelImpulse ch = amisim::buildLossyLine(line, bitTime / spb, spb);
    const amisim::PulseResponse pulse = amisim::makePulse(ch.impulse, bitTime / spb, spb, 0.5);
    amisim::StatEyeOptions o;
    o.jitter.rjRms = static_cast<double>(state.range(0)) / 1000 * bitTime;
    o.jitter.djPp = 0.03 * bitTime;
    o.jitter.dcdPp = 0.14 * bitTime;
    for (auto _ : state) {
        amisim::StatEyeResult r = amisim::computeStatEye(pulse, o);
        benchmark::DoNotOptimize(r.eyeHeight);
    }
    state.counters["eyes_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

// Includes the two AMI_Init calls and the channel build once per run, as a user's run does.
BENCHMARK(timeDomainLink)->Arg(20000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(2);
// 24 thousandths of a UI rms: what the kit reports at 10.3 Gb/s (the reference); 1 UI rms: a
// bit rate far beyond the models' range, cut at 2 UI.
BENCHMARK(statisticalEye)->Arg(24)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
