// A CTLE/VGA response container, read directly (through AMI_Init four full containers are read
// per run, far too slow to reach depth), then asked for the records and amplitude-curve fits
// that receiver settings select. The first byte picks the path label, which decides whether
// the curve table follows.
#include "fuzz_support.hpp"
#include "rx/response_database.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const char* const labels[] = {kHighGainPathLabel, kHighDataRatePathLabel, kQpiPathLabel,
                                         kVgaPathLabel, "unknown"};
    static const char* const paths[] = {"High-Gain, High BW", kLowGainPath, kQpiPath, kVgaPath,
                                        "High-Gain, Low BW"};
    const std::size_t which = data[0] % 5;
    CtleDatabase database;
    if (!LoadCtleDatabase(database, fuzz::WriteInput(data + 1, size - 1, "container.kvreledata"),
                          labels[which])) {
        return 0;
    }
    AmplitudeFitCache fits;
    ResponseSelection info;
    ResponseRequest request;
    request.path = paths[which];
    request.variant = "H";
    SelectResponse(database, request, true, fits, info);
    for (double ac : {0.0, 1.0, 7.0, 28.0}) {
        for (double bandwidth : {4.0, 8.0, 16.0, 28.0}) {
            request.acGain = ac;
            request.bandwidth = bandwidth;
            for (const std::string& variant : database.variants) {
                request.variant = variant;
                ResponseSelection out;
                SelectResponse(database, request, false, fits, out);
            }
        }
    }
    return 0;
}
