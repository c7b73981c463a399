// The numbers a simulator passes, decoded from the fuzz input: the settings, row_size,
// aggressors, sample_interval, bit_time and a sequence of AMI_GetWave block sizes. Sizes that
// would make the harness itself allocate more than a simulator could are folded back into a
// budget; negative sizes and zero reach the model library as they came.
//
// Times: mostly a bit rate the receiver serves (62.5 Mb/s to 100 Gb/s) with 1 to 64 samples per
// bit, odd counts included (the interval itself any value that rounds to it), sometimes a time
// the models must refuse at set-up (zero, negative, NaN, infinite, or a bit rate out of range).
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <limits>
#include <utility>

#include "fuzz_support.hpp"
#include "support/model_settings.hpp"

namespace {

constexpr std::int64_t kSampleBudget = 1 << 13;

#ifdef AMI_FUZZ_RX
const std::vector<std::string>& Settings() { return testsupport::RxSettingsVariety(); }
const char* const kRoot = "(Vanta10_Rx ";
#else
const std::vector<std::string>& Settings() { return testsupport::TxSettingsVariety(); }
const char* const kRoot = "(Vanta10_Tx ";
#endif

// A time the models must refuse: not positive or not finite, or, as a bit time, a bit rate
// beyond what the receiver serves (as a sample interval any positive time is accepted).
double RefusedTime(FuzzedDataProvider& in, bool bitTime) {
    switch (in.ConsumeIntegralInRange(0, bitTime ? 5 : 3)) {
        case 0:
            return 0.0;
        case 1:
            return -in.ConsumeFloatingPointInRange(0.0, 1e-6);
        case 2:
            return std::numeric_limits<double>::quiet_NaN();
        case 3:
            return in.ConsumeBool() ? std::numeric_limits<double>::infinity()
                                    : -std::numeric_limits<double>::infinity();
        case 4:  // faster than 100 Gb/s
            return 1e-11 * in.ConsumeFloatingPointInRange(1e-6, 0.999);
        default:  // slower than 62.5 Mb/s
            return 1.6e-8 * (1.001 + in.ConsumeFloatingPointInRange(0.0, 1e6));
    }
}

// bit_time, then sample_interval.
std::pair<double, double> Times(FuzzedDataProvider& in) {
    // One unit in eight refuses a time at set-up (half of them the bit time).
    const int refuse = in.ConsumeIntegralInRange(0, 15);
    const double bitTime = refuse == 0 ? RefusedTime(in, true)
                                       // log-uniform over 10 ps (100 Gb/s) .. 16 ns (62.5 Mb/s)
                                       : 1e-11 * std::pow(1600.0, in.ConsumeProbability<double>());
    if (refuse == 1) return {bitTime, RefusedTime(in, false)};
    const int samplesPerBit = in.ConsumeIntegralInRange(1, 64);
    const double offset = in.ConsumeFloatingPointInRange(-0.499, 0.499);
    return {bitTime, bitTime / (samplesPerBit + offset)};
}

std::int32_t Size(FuzzedDataProvider& in) {
    // Mostly sizes a simulator uses, sometimes any 32-bit value.
    if (in.ConsumeIntegralInRange(0, 7) != 0)
        return in.ConsumeIntegralInRange<std::int32_t>(-2, 600);
    return in.ConsumeIntegral<std::int32_t>();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string params =
        kRoot + Settings()[in.ConsumeIntegralInRange<std::size_t>(0, Settings().size() - 1)] + ")";
    std::int32_t rowSize = Size(in);
    std::int32_t aggressors = in.ConsumeBool() ? in.ConsumeIntegralInRange<std::int32_t>(-1, 3)
                                               : in.ConsumeIntegral<std::int32_t>();
    // A buffer of row_size x (1 + aggressors) samples must exist; fold oversized requests into
    // the budget, keeping negative values (the models must refuse them).
    if (rowSize > 0 && aggressors >= 0 &&
        static_cast<std::int64_t>(rowSize) * (1 + static_cast<std::int64_t>(aggressors)) >
            kSampleBudget) {
        aggressors %= 4;
        rowSize = static_cast<std::int32_t>(rowSize % (kSampleBudget / (1 + aggressors)));
    }
    const auto [bitTime, sampleInterval] = Times(in);
    std::vector<std::int32_t> blocks;
    const int count = in.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < count; ++i) {
        std::int32_t n = Size(in);
        if (n > kSampleBudget) n = static_cast<std::int32_t>(n % kSampleBudget);
        blocks.push_back(n);
    }
    fuzz::RunInstance(params, rowSize, aggressors, sampleInterval, bitTime, blocks);
    return 0;
}
