// Time-domain throughput of a whole link through the kit's models: PRBS stimulus, transmitter
// AMI_GetWave, channel convolution, receiver AMI_GetWave and eye accumulation, in blocks. The
// default link (the built-in 20 dB line) and a measured-style backplane (a four-port file with
// 10 MHz steps and an instrument noise floor) run in the same program, so that their times
// compare directly. Then the statistical eye of the built-in line with the jitter the models
// report against a jitter far beyond a unit interval, which is cut at 2 UI so that its work
// stays within a small factor of the ordinary one.
#include <benchmark/benchmark.h>
#include <gsl/gsl_errno.h>

#include <filesystem>

#include "amisim/channel/channel.hpp"
#include "amisim/host/kit_files.hpp"
#include "amisim/run/link_sim.hpp"
#include "amisim/eye/stat_eye.hpp"
#include "support/measured_channel.hpp"
#include "support/temp_dir.hpp"

namespace {

amisim::LinkConfig Link(std::uint64_t bits) {
    amisim::LinkConfig cfg;
    cfg.kitDir = KIT_DIR;
    cfg.files = amisim::locateKit(cfg.kitDir, {});
    cfg.runStat = false;
    cfg.runTd = true;
    cfg.samplesPerBit = 32;
    cfg.bits = bits;
    cfg.ignoreBits = 1000;
    cfg.quiet = true;
    return cfg;
}

void Run(benchmark::State& state, const amisim::LinkConfig& cfg) {
    gsl_set_error_handler_off();
    std::uint64_t bits = 0;
    std::size_t impulse = 0;
    for (auto _ : state) {
        amisim::LinkResult r = amisim::runLink(cfg);
        benchmark::DoNotOptimize(r.td->eyeHeight);
        bits += r.tdBits;
        impulse = r.impulseSamples;
    }
    state.counters["bits_per_second"] =
        benchmark::Counter(static_cast<double>(bits), benchmark::Counter::kIsRate);
    state.counters["impulse_samples"] = static_cast<double>(impulse);
}

// Includes the two AMI_Init calls and the channel build once per run, as a user's run does.
// range(1) 0 runs the loop and the output-range probe on the calling thread alone: the
// reference the two-thread run is measured against.
void DefaultLink(benchmark::State& state) {
    amisim::LinkConfig cfg = Link(static_cast<std::uint64_t>(state.range(0)));
    cfg.pipelineTd = state.range(1) != 0;
    Run(state, cfg);
}

void MeasuredBackplane(benchmark::State& state) {
    testsupport::TempDir dir;
    const auto file = dir.path() / "backplane.s4p";
    testsupport::WriteMeasuredChannel(file);
    amisim::LinkConfig cfg = Link(static_cast<std::uint64_t>(state.range(0)));
    cfg.s4pFile = file.string();
    cfg.pipelineTd = state.range(1) != 0;
    Run(state, cfg);
}

// Jitter in unit intervals: range(0) / 1000 rms, plus the reported dual Diracs' share.
void StatisticalEye(benchmark::State& state) {
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

BENCHMARK(DefaultLink)
    ->Args({1000000, 1})
    ->Args({1000000, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
BENCHMARK(MeasuredBackplane)
    ->Args({1000000, 1})
    ->Args({1000000, 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime()
    ->MeasureProcessCPUTime();
// 24 thousandths of a UI rms: what the kit reports at 10.3 Gb/s (the reference); 1 UI rms: a
// bit rate far beyond the models' range, cut at 2 UI.
BENCHMARK(StatisticalEye)->Arg(24)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
