// A small IBIS-AMI model for the simulator's tests: scales by (gain g), reports fixed jitter
// output parameters, can refuse AMI_Init (fail 1) and, as a receiver, returns clock times
// (clock 1) one bit apart, starting at its first block.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct FakeModel {
    double gain = 1.0;
    bool clock = false;
    double sampleInterval = 0, bitTime = 0;
    std::uint64_t samples = 0;
    std::string msg, out;
};

double numberAfter(const char* params, const char* key, double fallback) {
    const char* p = std::strstr(params, key);
    return p ? std::atof(p + std::strlen(key)) : fallback;
}

}  // namespace

FAKE_EXPORT std::int32_t AMI_Init(double* impulse, std::int32_t rowSize, std::int32_t, double dt,
                                  double bitTime, char* params, char** paramsOut, void** handle,
                                  char** msg) {
    auto* m = new FakeModel;
    *handle = m;
    m->gain = numberAfter(params, "(gain ", 1.0);
    m->clock = numberAfter(params, "(clock ", 0.0) != 0.0;
    m->sampleInterval = dt;
    m->bitTime = bitTime;
    if (numberAfter(params, "(fail ", 0.0) != 0.0) {
        m->msg = "fake model refuses these parameters";
        *msg = m->msg.data();
        return 0;
    }
    for (std::int32_t i = 0; i < rowSize; ++i) impulse[i] *= m->gain;
    m->msg = std::string("fake model got: ") + params;
#ifdef FAKE_RX
    m->out = "(Fake_Rx (Rx_Rj 1e-12) (Rx_DCD 2e-12) (Rx_Receiver_Sensitivity 0.01))";
#else
    m->out =
        "(Fake_Tx (Description \"fake (test) transmitter\") (Tx_Rj 1e-12) (Tx_Dj 0) (Tx_DCD 0))";
#endif
    *msg = m->msg.data();
    *paramsOut = m->out.data();
    return 1;
}

FAKE_EXPORT std::int32_t AMI_GetWave(double* wave, std::int32_t size, double* clockTimes,
                                     char** paramsOut, void* handle) {
    auto* m = static_cast<FakeModel*>(handle);
    for (std::int32_t i = 0; i < size; ++i) wave[i] *= m->gain;
    int n = 0;
    if (m->clock) {
        // clock edges half a bit before each bit centre of this block
        const double start = static_cast<double>(m->samples) * m->sampleInterval;
        const double end = start + size * m->sampleInterval;
        const double first =
            static_cast<double>(static_cast<std::uint64_t>(start / m->bitTime + 0.999999)) *
            m->bitTime;
        for (double t = first; t < end - 1e-15; t += m->bitTime) clockTimes[n++] = t;
    }
    clockTimes[n] = -1.0;
    m->samples += static_cast<std::uint64_t>(size);
    *paramsOut = m->out.data();
    return 1;
}

FAKE_EXPORT std::int32_t AMI_Close(void* handle) {
    delete static_cast<FakeModel*>(handle);
    return 1;
}
