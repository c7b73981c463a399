// The numbers a simulator passes, decoded from the fuzz input: the settings, row_size,
// aggressors, sample_interval, bit_time and a sequence of AMI_GetWave block sizes. Sizes that
// would make the harness itself allocate more than a simulator could are folded back into a
// budget; everything else (negative sizes, zero, NaN, infinities, denormal times) reaches the
// model library as it came.
#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <limits>

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

double Time(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 2)) {
        case 0:  // a plausible time: 1 ps .. 1 ns
            return 1e-12 * (1.0 + in.ConsumeFloatingPointInRange(0.0, 999.0));
        case 1:  // any bit pattern at all
            return std::bit_cast<double>(in.ConsumeIntegral<std::uint64_t>());
        default:
            return in.ConsumeFloatingPoint<double>();
    }
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
    const double sampleInterval = Time(in);
    const double bitTime = Time(in);
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
