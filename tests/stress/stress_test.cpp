// Many instances of both models, built and run block by block from eight threads at once,
// give bit for bit what the same work gives done one instance after the other; and thousands
// of AMI_Init/AMI_Close cycles leave the resident memory where it was.
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
