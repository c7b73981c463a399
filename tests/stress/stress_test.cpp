// Many instances of both models, built and run block by block from eight threads at once,
// give bit for bit what the same work gives done one instance after the other (receivers with
// clock recovery included, each thread cutting the same stream into its own block length); and
// thousands of AMI_Init/AMI_Close cycles leave the resident memory where it was.
//
// AMI_STRESS_CYCLES sets the number of AMI_Init/AMI_Close cycles per library of the memory
// test (default 200; the closing figures were measured with 10000).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/ami_exports.hpp"
#include "support/model_settings.hpp"

namespace {

using testsupport::AmiExports;

const AmiExports& Tx() {
    static const AmiExports lib = testsupport::LoadAmiExports(V10KX_TX_LIB);
    return lib;
}
const AmiExports& Rx() {
    static const AmiExports lib = testsupport::LoadAmiExports(V10KX_RX_LIB);
    return lib;
}

struct Job {
    const AmiExports* lib;
    std::string params;
    std::int32_t rowSize;
    double sampleInterval;
    double bitTime;
    std::vector<std::int32_t> blocks;
};

// Everything a simulator gets back from one instance.
struct Outcome {
    std::int32_t initResult = 0;
    std::string message;
    std::vector<std::string> paramsOut;
    std::vector<double> samples;  // impulse after AMI_Init, then every block after AMI_GetWave
    std::vector<double> clocks;   // clock times of every block up to their -1

    bool operator==(const Outcome& o) const {
        // Bit for bit, so that a NaN compares with itself and -0 differs from 0.
        auto same = [](const std::vector<double>& a, const std::vector<double>& b) {
            return a.size() == b.size() &&
                   (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
        };
        return initResult == o.initResult && message == o.message && paramsOut == o.paramsOut &&
               same(samples, o.samples) && same(clocks, o.clocks);
    }
};

// A pulse through a mild low-pass channel, then a pseudo-random bit stream in blocks.
Outcome RunJob(const Job& job) {
    Outcome r;
    const int spb = static_cast<int>(job.bitTime / job.sampleInterval + 0.5);
    std::vector<double> impulse(static_cast<std::size_t>(job.rowSize), 0.0);
    for (int i = 0; i < job.rowSize; ++i) {
        const double t = static_cast<double>(i) / spb;
        impulse[i] = t < 0.5 ? 0.0 : std::exp(-(t - 0.5) / 1.5) / spb;
    }
    std::string in = "(" + std::string(job.lib == &Tx() ? "Vanta10_Tx" : "Vanta10_Rx") +
                     " (Database_Path \"" + KIT_DIR + "\") " + job.params + ")";
    char* out = nullptr;
    char* msg = nullptr;
    void* handle = nullptr;
    r.initResult = job.lib->init(impulse.data(), job.rowSize, 0, job.sampleInterval, job.bitTime,
                                 in.data(), &out, &handle, &msg);
    if (msg) r.message = msg;
    if (out && r.initResult == 1) r.paramsOut.push_back(out);
    r.samples = impulse;
    std::uint32_t state = 12345;
    std::vector<double> wave;
    std::vector<double> clocks;
    for (std::int32_t size : job.blocks) {
        wave.assign(static_cast<std::size_t>(size), 0.0);
        for (std::size_t i = 0; i < wave.size(); ++i) {
            if (i % spb == 0) state = state * 1103515245u + 12345u;
            wave[i] = (state >> 16) & 1 ? 0.25 : -0.25;
        }
        clocks.assign(wave.size() + 1, -1.0);
        char* waveOut = nullptr;
        job.lib->getWave(wave.data(), size, clocks.data(), &waveOut, handle);
        if (waveOut) r.paramsOut.push_back(waveOut);
        r.samples.insert(r.samples.end(), wave.begin(), wave.end());
        for (std::size_t i = 0; i < clocks.size(); ++i) {
            r.clocks.push_back(clocks[i]);
            if (clocks[i] == -1.0) break;
        }
    }
    job.lib->close(handle);
    return r;
}

std::vector<Job> Jobs() {
    std::vector<Job> jobs;
    for (const std::string& s : testsupport::TxSettingsVariety()) {
        jobs.push_back({&Tx(), s, 16 * 32, 1e-10 / 16, 1e-10, {512, 300, 1024}});
        jobs.push_back({&Tx(), s, 24 * 20, 8e-11 / 24, 8e-11, {480, 480, 100}});
    }
    for (const std::string& s : testsupport::RxSettingsVariety()) {
        jobs.push_back({&Rx(), s, 32 * 32, 1e-10 / 32, 1e-10, {1024, 1024, 700}});
    }
    // Past the DFE's first 5000 bits, so that its taps adapt (or take their codes) and feed back.
    for (const std::string& s : testsupport::RxDfeSettings()) {
        jobs.push_back({&Rx(), s, 32 * 32, 1e-10 / 32, 1e-10, {65536, 65536, 40000, 65536}});
    }
    return jobs;
}

TEST(ManyThreads, EightThreadsGiveTheSequentialResultsBitForBit) {
    ASSERT_TRUE(Tx().complete()) << Tx().error;
    ASSERT_TRUE(Rx().complete()) << Rx().error;
    const std::vector<Job> jobs = Jobs();
    std::vector<Outcome> expected;
    for (const Job& job : jobs) {
        expected.push_back(RunJob(job));
        ASSERT_EQ(expected.back().initResult, 1) << job.params << "\n" << expected.back().message;
    }

    // Every thread runs every job, each starting at another one, so that instances of other
    // settings are always being built and run at the same time.
    constexpr std::size_t kThreads = 8;
    std::vector<std::vector<Outcome>> got(kThreads, std::vector<Outcome>(jobs.size()));
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (std::size_t k = 0; k < jobs.size(); ++k) {
                const std::size_t j = (t * 3 + k) % jobs.size();
                got[t][j] = RunJob(jobs[j]);
            }
        });
    }
    for (std::thread& th : threads) th.join();
    for (std::size_t t = 0; t < kThreads; ++t) {
        for (std::size_t j = 0; j < jobs.size(); ++j) {
            EXPECT_TRUE(got[t][j] == expected[j])
                << "thread " << t << ", job " << j << ": " << jobs[j].params;
        }
    }
}

// One receiver stream with clock recovery: the same input, cut into blocks of `blockLength`
// samples, and what comes back: every output sample, every clock time, the last block's
// output parameters.
struct StreamRun {
    std::vector<double> samples;
    std::vector<double> clocks;
    std::string lastParams;
    std::string message;
    std::int32_t initResult = 0;

    bool SameAs(const StreamRun& o) const {
        auto same = [](const std::vector<double>& a, const std::vector<double>& b) {
            return a.size() == b.size() &&
                   (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
        };
        return initResult == o.initResult && message == o.message && lastParams == o.lastParams &&
               same(samples, o.samples) && same(clocks, o.clocks);
    }
};

constexpr int kStreamSpb = 32;
constexpr double kStreamBitTime = 1.0 / 10.3125e9;

// A pseudo-random bit stream through a mild low-pass channel, defined sample by sample over
// the whole run, so that every block length cuts the same signal.
const std::vector<double>& StreamInput(std::size_t bits) {
    static std::vector<double> input;
    if (input.size() != bits * kStreamSpb) {
        input.assign(bits * kStreamSpb, 0.0);
        std::uint32_t state = 2024;
        double level = -0.25;
        const double a = std::exp(-1.0 / 6.0);  // about a fifth of a bit of rise time
        double target = -0.25;
        for (std::size_t i = 0; i < input.size(); ++i) {
            if (i % kStreamSpb == 0) {
                state = state * 1103515245u + 12345u;
                target = (state >> 16) & 1 ? 0.25 : -0.25;
            }
            level = a * level + (1 - a) * target;
            input[i] = level;
        }
    }
    return input;
}

StreamRun RunStream(const std::string& settings, std::size_t bits, std::size_t blockLength) {
    StreamRun r;
    const std::vector<double>& input = StreamInput(bits);
    std::vector<double> impulse(static_cast<std::size_t>(blockLength), 0.0);
    impulse[kStreamSpb / 2] = 1.0 / (kStreamBitTime / kStreamSpb);
    std::string in =
        "(Vanta10_Rx (Database_Path \"" + std::string(KIT_DIR) + "\") " + settings + ")";
    char* out = nullptr;
    char* msg = nullptr;
    void* handle = nullptr;
    r.initResult =
        Rx().init(impulse.data(), static_cast<std::int32_t>(blockLength), 0,
                  kStreamBitTime / kStreamSpb, kStreamBitTime, in.data(), &out, &handle, &msg);
    if (msg) r.message = msg;
    if (r.initResult != 1) {
        Rx().close(handle);
        return r;
    }
    std::vector<double> block;
    std::vector<double> clocks;
    r.samples.reserve(input.size());
    for (std::size_t start = 0; start < input.size(); start += blockLength) {
        const std::size_t n = std::min(blockLength, input.size() - start);
        block.assign(input.begin() + static_cast<std::ptrdiff_t>(start),
                     input.begin() + static_cast<std::ptrdiff_t>(start + n));
        // One clock time per started bit at most, then the closing -1.
        clocks.assign(n / kStreamSpb + 2, -2.0);
        char* waveOut = nullptr;
        if (Rx().getWave(block.data(), static_cast<std::int32_t>(n), clocks.data(), &waveOut,
                         handle) != 1) {
            r.lastParams = "AMI_GetWave failed";
            break;
        }
        r.lastParams = waveOut ? waveOut : "";
        r.samples.insert(r.samples.end(), block.begin(), block.end());
        for (double t : clocks) {
            if (t == -1.0) break;
            r.clocks.push_back(t);
        }
    }
    Rx().close(handle);
    return r;
}

// The integer value of output parameter `name`, or nullopt.
std::optional<long long> OutputInt(const std::string& params, const std::string& name) {
    const std::size_t at = params.find("(" + name + " ");
    if (at == std::string::npos) return std::nullopt;
    return std::atoll(params.c_str() + at + name.size() + 2);
}

// Clock recovery with its lock detector and the DFE, through filter stages that keep their own
// history: every block length gives the same stream, and eight threads, each cutting the same
// streams into its own block length, give bit for bit what the same block length gives run
// alone. An instance that shared any state with
// another (a history, a loop, a lock detector) would see the other's signal interleaved with
// its own and differ.
TEST(ManyThreads, ClockRecoveryAndMixedBlockLengthsGiveTheSequentialResultsBitForBit) {
    ASSERT_TRUE(Rx().complete()) << Rx().error;
    const std::vector<std::string> settings{
        "(eqz_s1_ac_gain 6) (dfe (mode 2)) (cdr_bandwidth 2)",
        "(ctle_hg_sel 1) (eqz_s4_ac_gain 6) (dfe (mode 2)) (cdr_bandwidth 1) (corner 2)",
    };
    const std::vector<std::size_t> lengths{1000, 4096, 777, 1u << 14};
    constexpr std::size_t kBits = 12000;

    // expected[s][l]: settings s, block length l, run alone.
    std::vector<std::vector<StreamRun>> expected(settings.size());
    for (std::size_t s = 0; s < settings.size(); ++s) {
        for (std::size_t length : lengths) {
            expected[s].push_back(RunStream(settings[s], kBits, length));
            const StreamRun& r = expected[s].back();
            ASSERT_EQ(r.initResult, 1) << settings[s] << "\n" << r.message;
            ASSERT_EQ(r.samples.size(), StreamInput(kBits).size()) << r.lastParams;
            // The lock detector has reported a lock, and no clock time was lost.
            const std::optional<long long> lockBit = OutputInt(r.lastParams, "cdr_lock_bit");
            ASSERT_TRUE(lockBit.has_value()) << r.lastParams;
            EXPECT_GE(*lockBit, 0) << settings[s] << ", blocks of " << length;
            EXPECT_EQ(OutputInt(r.lastParams, "clock_times_dropped"), 0) << r.lastParams;
            // About one clock time per bit.
            EXPECT_NEAR(static_cast<double>(r.clocks.size()), static_cast<double>(kBits),
                        0.01 * kBits)
                << settings[s] << ", blocks of " << length;
        }
    }

    // Every block length cuts the same signal: the same output up to rounding, the same clock.
    for (std::size_t s = 0; s < settings.size(); ++s) {
        const StreamRun& first = expected[s][0];
        for (std::size_t l = 1; l < lengths.size(); ++l) {
            const StreamRun& r = expected[s][l];
            double worst = 0;
            for (std::size_t i = 0; i < r.samples.size(); ++i)
                worst = std::max(worst, std::abs(r.samples[i] - first.samples[i]));
            EXPECT_LT(worst, 1e-12) << settings[s] << ", blocks of " << lengths[l];
            ASSERT_EQ(r.clocks.size(), first.clocks.size()) << settings[s] << ", " << lengths[l];
            for (std::size_t i = 0; i < r.clocks.size(); ++i) {
                ASSERT_NEAR(r.clocks[i], first.clocks[i], 1e-9 * kStreamBitTime)
                    << settings[s] << ", blocks of " << lengths[l] << ", clock time " << i;
            }
        }
    }

    constexpr std::size_t kThreads = 8;
    // got[t][s]: thread t's run of settings s in its block length.
    std::vector<std::vector<StreamRun>> got(kThreads, std::vector<StreamRun>(settings.size()));
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (std::size_t k = 0; k < settings.size(); ++k) {
                const std::size_t s = (t + k) % settings.size();
                got[t][s] = RunStream(settings[s], kBits, lengths[t % lengths.size()]);
            }
        });
    }
    for (std::thread& th : threads) th.join();
    for (std::size_t t = 0; t < kThreads; ++t) {
        for (std::size_t s = 0; s < settings.size(); ++s) {
            EXPECT_TRUE(got[t][s].SameAs(expected[s][t % lengths.size()]))
                << "thread " << t << " (blocks of " << lengths[t % lengths.size()]
                << "): " << settings[s];
        }
    }
}

// Resident memory in KiB.
long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int Cycles() {
    const char* text = std::getenv("AMI_STRESS_CYCLES");
    const int n = text ? std::atoi(text) : 0;
    return n > 0 ? n : 200;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasureMemory = false;  // the sanitizer's quarantine holds on to freed memory
#else
constexpr bool kMeasureMemory = true;
#endif

void ExpectFlatMemory(const Job& job, const char* name) {
    const int cycles = Cycles();
    const int warmUp = std::max(10, cycles / 10);
    for (int i = 0; i < warmUp; ++i) RunJob(job);
    const long before = ResidentKiB();
    for (int i = 0; i < cycles; ++i) RunJob(job);
    const long after = ResidentKiB();
    std::printf(
        "%s: %d AMI_Init/AMI_Close cycles after %d warm-up cycles: resident %ld KiB -> "
        "%ld KiB (%+ld KiB)\n",
        name, cycles, warmUp, before, after, after - before);
    // Allocator noise, not growth per cycle: a leak of even 1 KiB per cycle exceeds it.
    if (kMeasureMemory) {
        EXPECT_LT(after - before, 1024 + cycles / 10) << name;
    }
}

TEST(ManyInstances, InitCloseCyclesKeepResidentMemoryFlat) {
    ASSERT_TRUE(Tx().complete()) << Tx().error;
    ASSERT_TRUE(Rx().complete()) << Rx().error;
    ExpectFlatMemory({&Tx(), testsupport::TxSettingsVariety()[1], 16 * 32, 1e-10 / 16, 1e-10, {}},
                     "transmitter");
    ExpectFlatMemory({&Rx(), testsupport::RxSettingsVariety()[1], 32 * 32, 1e-10 / 32, 1e-10, {}},
                     "receiver");
}

}  // namespace
