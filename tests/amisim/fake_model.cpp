// A small IBIS-AMI model for the simulator's tests. It scales by (gain g) and reports fixed
// jitter output parameters. On request it refuses AMI_Init (fail 1), crashes in it (crash 1),
// sleeps in it (sleep_ms N), writes warning lines, console lines and Params_Valid False (warn 1),
// clips its output at
// +-(limit L) volts (with (limit_adapts 1): L times the DC gain of the impulse AMI_Init gets, as
// a receiver that adapts to its channel), and, as a receiver, returns clock times (clock 1) one bit
// apart from its first block, or with a period (clock_ppm p) ppm off the bit time after a start of
// (clock_settle n) bits 1 % off; reports two DFE taps after every block (taps 1) settling
// towards 50 mV and -20 mV; and states adapted gains (adapt 1). As a receiver it reports its lock
// detector's lock bit (lock_at n: n once n bits have passed, -1 before; -1: never) and
// (dropped d) lost clock times after every block when asked, and its gain can grow from a fifth to
// full over the first (gain_settle n) bits, as an equaliser still adapting. Its jitter outputs are
// (rj r) rms and (dcd d), default 1 ps and no duty-cycle distortion (2 ps for the receiver).
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct FakeModel {
    double gain = 1.0, limit = 0.0, ppm = 0.0;
    bool clock = false, taps = false;
    double settleBits = 0;
    double lockAt = -2, dropped = -1, gainSettle = 0;
    double sampleInterval = 0, bitTime = 0;
    std::uint64_t samples = 0;
    double nextClock = 0;
    std::uint64_t clocks = 0;
    std::string msg, out;
};

double numberAfter(const char* params, const char* key, double fallback) {
    const char* p = std::strstr(params, key);
    return p ? std::atof(p + std::strlen(key)) : fallback;
}

void process(FakeModel& m, double* wave, std::int32_t size) {
    const double samplesPerBit = m.bitTime / m.sampleInterval;
    for (std::int32_t i = 0; i < size; ++i) {
        wave[i] *= m.gain;
        if (m.gainSettle > 0) {
            const double bit =
                static_cast<double>(m.samples + static_cast<std::uint64_t>(i)) / samplesPerBit;
            wave[i] *= 0.2 + 0.8 * std::fmin(1.0, bit / m.gainSettle);
        }
        if (m.limit > 0) wave[i] = std::fmax(-m.limit, std::fmin(m.limit, wave[i]));
    }
}

#ifdef FAKE_RX
const char* kRoot = "Fake_Rx";
#else
const char* kRoot = "Fake_Tx";
#endif

}  // namespace

FAKE_EXPORT std::int32_t AMI_Init(double* impulse, std::int32_t rowSize, std::int32_t, double dt,
                                  double bitTime, char* params, char** paramsOut, void** handle,
                                  char** msg) {
    auto* m = new FakeModel;
    *handle = m;
    m->gain = numberAfter(params, "(gain ", 1.0);
    m->limit = numberAfter(params, "(limit ", 0.0);
    m->clock = numberAfter(params, "(clock ", 0.0) != 0.0;
    m->ppm = numberAfter(params, "(clock_ppm ", 0.0);
    m->settleBits = numberAfter(params, "(clock_settle ", 0.0);
    m->taps = numberAfter(params, "(taps ", 0.0) != 0.0;
    m->lockAt = numberAfter(params, "(lock_at ", -2.0);
    m->dropped = numberAfter(params, "(dropped ", -1.0);
    m->gainSettle = numberAfter(params, "(gain_settle ", 0.0);
    m->sampleInterval = dt;
    m->bitTime = bitTime;
    if (numberAfter(params, "(crash ", 0.0) != 0.0) std::abort();
    // a slow AMI_Init (milliseconds), for jobs stopped midway
    if (const double ms = numberAfter(params, "(sleep_ms ", 0.0); ms > 0)
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(ms));
    if (numberAfter(params, "(fail ", 0.0) != 0.0) {
        m->msg = "fake model refuses these parameters";
        *msg = m->msg.data();
        return 0;
    }
    if (numberAfter(params, "(limit_adapts ", 0.0) != 0.0) {
        double dcGain = 0;
        for (std::int32_t i = 0; i < rowSize; ++i) dcGain += impulse[i] * dt;
        m->limit *= dcGain;
    }
    for (std::int32_t i = 0; i < rowSize; ++i) impulse[i] *= m->gain;
    const bool warn = numberAfter(params, "(warn ", 0.0) != 0.0;
    m->msg = std::string("fake model got: ") + params + "\n";
    if (warn) {
        m->msg +=
            "WARNING: fake receiver-style warning\n         second line of it.\n"
            "**Warning** fake transmitter-style warning\n";
        std::printf("fake console line\n");
        std::fflush(stdout);
    }
    if (numberAfter(params, "(adapt ", 0.0) != 0.0)
        m->msg += "After adaptaion: AC Gain: 7, DC Gain: 2, VGA Gain: 3\n";
    char jitter[128];
#ifdef FAKE_RX
    std::snprintf(jitter, sizeof jitter, "(Rx_Rj %g) (Rx_DCD %g)",
                  numberAfter(params, "(rj ", 1e-12), numberAfter(params, "(dcd ", 2e-12));
    m->out = std::string("(Fake_Rx ") + jitter + " (Rx_Receiver_Sensitivity 0.01))";
#else
    std::snprintf(jitter, sizeof jitter, "(Tx_Rj %g) (Tx_Dj 0) (Tx_DCD %g)",
                  numberAfter(params, "(rj ", 1e-12), numberAfter(params, "(dcd ", 0.0));
    m->out = std::string("(Fake_Tx (Description \"fake (test) transmitter\") ") + jitter +
             " (Params_Valid " + (warn ? "False" : "True") + "))";
#endif
    *msg = m->msg.data();
    *paramsOut = m->out.data();
    return 1;
}

FAKE_EXPORT std::int32_t AMI_GetWave(double* wave, std::int32_t size, double* clockTimes,
                                     char** paramsOut, void* handle) {
    auto* m = static_cast<FakeModel*>(handle);
    process(*m, wave, size);
    int n = 0;
    const double start = static_cast<double>(m->samples) * m->sampleInterval;
    const double end = start + size * m->sampleInterval;
    if (m->clock) {
        // clock edges half a bit before each bit centre of this block
        const double first =
            static_cast<double>(static_cast<std::uint64_t>(start / m->bitTime + 0.999999)) *
            m->bitTime;
        for (double t = first; t < end - 1e-15; t += m->bitTime) clockTimes[n++] = t;
    } else if (m->ppm != 0.0 || m->settleBits > 0) {
        while (m->nextClock < end - 1e-15) {
            clockTimes[n++] = m->nextClock;
            const bool settling = static_cast<double>(m->clocks) < m->settleBits;
            m->nextClock += m->bitTime * (settling ? 1.01 : 1.0 + m->ppm * 1e-6);
            ++m->clocks;
        }
    }
    clockTimes[n] = -1.0;
    m->samples += static_cast<std::uint64_t>(size);
    std::string reports;
    if (m->taps) {
        const double settle = 1.0 - std::exp(-end / (2000 * m->bitTime));
        const double w1 = 0.05 * settle, w2 = -0.02 * settle;
        char buf[160];
        std::snprintf(buf, sizeof buf, " (tap_1 %d %f) (tap_2 %d %f)",
                      static_cast<int>(std::lround(w1 * 1000)), w1,
                      static_cast<int>(std::lround(w2 * 1000)), w2);
        reports += buf;
    }
    if (m->lockAt > -2) {
        const double bits = end / m->bitTime;
        const long long lock = m->lockAt >= 0 && bits >= m->lockAt ? std::llround(m->lockAt) : -1;
        reports += " (cdr_lock_bit " + std::to_string(lock) + ")";
    }
    if (m->dropped >= 0) reports += " (clock_times_dropped " + std::to_string(m->dropped) + ")";
    if (!reports.empty()) m->out = std::string("(") + kRoot + "\n" + reports + ")\n";
    *paramsOut = m->out.data();
    return 1;
}

FAKE_EXPORT std::int32_t AMI_Close(void* handle) {
    delete static_cast<FakeModel*>(handle);
    return 1;
}
