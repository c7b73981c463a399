// Soak of the receiver library through its C interface, loaded as a simulator loads it: the
// kit's defaults (CTLE/VGA adaptation, adaptive DFE, clock recovery) on a database mkdb writes,
// 10^8 bits at 32 samples per bit in blocks of 1000 samples. Reported: resident memory after
// AMI_Init, after 10^7 bits, at the end and after AMI_Close; clock times delivered against bits and
// the model's own count of dropped ones; the recovered clock's mean period over the last 10^7 bits
// against the bit time; the throughput of the last 10^7 bits against that of the first 10^7 in the
// same run (a slowdown with depth shows as a ratio below 1). Not part of the test command.
//
//   AMI_SOAK_BITS=N   bits to run (default 100000000; a multiple of 10^6 keeps the checkpoints)
//
// Progress goes to standard error every 10^7 bits.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
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
constexpr std::size_t kBlock = 1000;
constexpr std::uint64_t kCheckpointBits = 10'000'000;

std::uint64_t SoakBits() {
    const char* text = std::getenv("AMI_SOAK_BITS");
    const long long n = text ? std::atoll(text) : 0;
    return n > 0 ? static_cast<std::uint64_t>(n) : 100'000'000;
}

double ResidentMiB() {
    FILE* f = std::fopen("/proc/self/statm", "r");
    long size = 0, resident = 0;
    if (f) {
        if (std::fscanf(f, "%ld %ld", &size, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

// The kit's .ami defaults for every input parameter the receiver reads.
std::string KitDefaults(const std::filesystem::path& database) {
    return "(Vanta10_Rx (Database_Path \"" + database.string() +
           "\") (vga_gain 0) (eqz_s1_ac_gain 0) (eqz_s4_ac_gain 0) (eqz_s4_dc_gain 0)"
           " (pwrql 0) (corner 0) (eqz_bw_sel 1) (vga_bw_sel 1) (hg_bw_sel 0) (QPI_sel 0)"
           " (QPI_vcm 0) (cdr_bandwidth 0) (cdr_sel 0) (temp_grade 0) (ctle_hg_sel 0)"
           " (ctle_mode 1) (dfe (mode 2)) (float_start 8) (DFE_tap_length \"Default\"))";
}

std::vector<double> ChannelImpulse(std::size_t n) { return LineImpulse(n, kSpb, kDt); }

// PRBS-31 at +-0.4 V through two real poles (the same kind of line), generated block by block.
class LineSignal {
  public:
    void Fill(double* out, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i, ++sample_) {
            if (sample_ % kSpb == 0) {
                const std::uint32_t bit = ((state_ >> 30) ^ (state_ >> 27)) & 1u;
                state_ = ((state_ << 1) | bit) & 0x7fffffffu;
                target_ = bit ? 0.4 : -0.4;
            }
            first_ += kPole * (target_ - first_);
            second_ += kPole * (first_ - second_);
            out[i] = second_;
        }
    }

  private:
    static constexpr double kPole = 1.0 / 12.0;  // about a third of a bit per pole
    std::uint64_t sample_ = 0;
    std::uint32_t state_ = 0x2545f491u;
    double target_ = 0.4;
    double first_ = 0;
    double second_ = 0;
};

long long OutputInt(const std::string& params, const std::string& name) {
    const std::size_t at = params.find("(" + name + " ");
    return at == std::string::npos ? -2 : std::atoll(params.c_str() + at + name.size() + 2);
}

void BM_RxSoak(benchmark::State& state) {
    const testsupport::AmiExports lib = testsupport::LoadAmiExports(RX_LIBRARY_PATH);
    if (!lib.complete()) {
        state.SkipWithError(lib.error.c_str());
        return;
    }
    const std::filesystem::path database =
        std::filesystem::temp_directory_path() / ("rx_soak_" + std::to_string(::getpid()));
    std::filesystem::create_directories(database);
    mkdb::writeRxDatabase(mkdb::defaultRxDescription(), database);
    const std::uint64_t bits = SoakBits();
    const std::uint64_t samples = bits * kSpb;

    for (auto _ : state) {
        std::vector<double> impulse = ChannelImpulse(kBlock);
        std::string params = KitDefaults(database);
        char* out = nullptr;
        char* msg = nullptr;
        void* handle = nullptr;
        if (lib.init(impulse.data(), static_cast<std::int32_t>(kBlock), 0, kDt, kBitTime,
                     params.data(), &out, &handle, &msg) != 1) {
            state.SkipWithError(msg ? msg : "AMI_Init failed");
            break;
        }
        const double rssStart = ResidentMiB();
        double rssCheckpoint = rssStart;
        LineSignal line;
        std::vector<double> wave(kBlock);
        std::vector<double> clocks(kBlock / kSpb + 2);
        std::uint64_t delivered = 0;
        std::string lastParams;
        // The last 10^7 bits' clock times: first and last time, and how many.
        const std::uint64_t tailStart =
            samples > kCheckpointBits * kSpb ? samples - kCheckpointBits * kSpb : 0;
        double tailFirst = -1, tailLast = -1;
        std::uint64_t tailCount = 0;
        // The same for the present 10^7 bits, for the progress lines.
        double segmentFirst = -1, segmentLast = -1, segmentStart = 0;
        std::uint64_t segmentCount = 0;
        using Clock = std::chrono::steady_clock;
        const Clock::time_point begin = Clock::now();
        double firstSegmentSeconds = 0;
        Clock::time_point tailBegin = begin;
        bool failed = false;
        for (std::uint64_t done = 0; done < samples;) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, samples - done));
            line.Fill(wave.data(), n);
            char* waveOut = nullptr;
            if (lib.getWave(wave.data(), static_cast<std::int32_t>(n), clocks.data(), &waveOut,
                            handle) != 1) {
                state.SkipWithError("AMI_GetWave failed");
                failed = true;
                break;
            }
            benchmark::DoNotOptimize(wave.data());
            for (double t : clocks) {
                if (t == -1.0) break;
                ++delivered;
                if (done >= tailStart) {
                    if (tailCount == 0) tailFirst = t;
                    tailLast = t;
                    ++tailCount;
                }
                if (segmentCount == 0) segmentFirst = t;
                segmentLast = t;
                ++segmentCount;
            }
            if (waveOut) lastParams = waveOut;
            const std::uint64_t before = done;
            done += n;
            const std::uint64_t step = kCheckpointBits * kSpb;
            if (before / step != done / step) {
                const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
                if (done / step == 1) {
                    rssCheckpoint = ResidentMiB();
                    firstSegmentSeconds = seconds;
                }
                // Everything a checkpoint can tell, so that a run stopped early still reports.
                const double period = segmentCount > 1 ? (segmentLast - segmentFirst) /
                                                             static_cast<double>(segmentCount - 1)
                                                       : 0.0;
                std::fprintf(
                    stderr,
                    "soak: %llu bits, %.1f s, resident %.1f MiB, clock times %llu "
                    "(%+lld against bits), dropped %lld, lock bit %lld, this 10^7: "
                    "period %+.3f ppm, %.0f bits/s\n",
                    static_cast<unsigned long long>(done / kSpb), seconds, ResidentMiB(),
                    static_cast<unsigned long long>(delivered),
                    static_cast<long long>(delivered) - static_cast<long long>(done / kSpb),
                    OutputInt(lastParams, "clock_times_dropped"),
                    OutputInt(lastParams, "cdr_lock_bit"), (period / kBitTime - 1.0) * 1e6,
                    static_cast<double>(kCheckpointBits) / (seconds - segmentStart));
                segmentCount = 0;
                segmentStart = seconds;
            }
            if (before < tailStart && done >= tailStart) tailBegin = Clock::now();
        }
        const Clock::time_point end = Clock::now();
        const double rssEnd = ResidentMiB();
        lib.close(handle);
        if (failed) break;
        state.counters["rss_closed_MiB"] = ResidentMiB();
        const double wall = std::chrono::duration<double>(end - begin).count();
        const double tailSeconds = std::chrono::duration<double>(end - tailBegin).count();
        state.counters["bits"] = static_cast<double>(bits);
        state.counters["wall_s"] = wall;
        state.counters["bits_per_s"] = static_cast<double>(bits) / wall;
        state.counters["rss_start_MiB"] = rssStart;
        state.counters["rss_1e7_MiB"] = rssCheckpoint;
        state.counters["rss_end_MiB"] = rssEnd;
        state.counters["clock_times"] = static_cast<double>(delivered);
        state.counters["clock_times_minus_bits"] =
            static_cast<double>(delivered) - static_cast<double>(bits);
        state.counters["clock_times_dropped"] =
            static_cast<double>(OutputInt(lastParams, "clock_times_dropped"));
        state.counters["cdr_lock_bit"] = static_cast<double>(OutputInt(lastParams, "cdr_lock_bit"));
        if (tailCount > 1) {
            const double period = (tailLast - tailFirst) / static_cast<double>(tailCount - 1);
            state.counters["tail_period_ppm"] = (period / kBitTime - 1.0) * 1e6;
        }
        // Throughput at depth against the start of the same run.
        if (firstSegmentSeconds > 0 && tailSeconds > 0 && bits >= 2 * kCheckpointBits) {
            state.counters["last_vs_first_1e7_rate"] = firstSegmentSeconds / tailSeconds;
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(database, ignored);
}
BENCHMARK(BM_RxSoak)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
