// amisim's Touchstone reader and the differential insertion loss it derives.
#include "amisim/touchstone.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const amisim::FourPortData ports = amisim::parseS4p(fuzz::AsText(data, size), "fuzz.s4p");
        amisim::differentialInsertionLoss(ports, amisim::PortOrder::Pairs12_34);
        amisim::differentialInsertionLoss(ports, amisim::PortOrder::Pairs13_24);
    } catch (const amisim::TouchstoneError&) {
        // A clear refusal is the expected answer to a malformed file.
    }
    return 0;
}
