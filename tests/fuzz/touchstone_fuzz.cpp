// amisim's Touchstone reader (1.x and 2.0, any port count) and the differential insertion loss
// it derives.
#include "amisim/channel/touchstone.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = fuzz::AsText(data, size);
    try {
        const amisim::FourPortData ports = amisim::parseS4p(text, "fuzz.s4p");
        amisim::differentialInsertionLoss(ports, amisim::PortOrder::Pairs12_34);
        amisim::differentialInsertionLoss(ports, amisim::PortOrder::Pairs13_24);
    } catch (const amisim::TouchstoneError&) {
        // A clear refusal is the expected answer to a malformed file.
    }
    try {
        const amisim::NPortData n = amisim::parseTouchstone(text, "fuzz.s8p");
        if (n.ports >= 4) amisim::throughFourPort(n, {1, 3, 2, 4}, "fuzz.s8p");
    } catch (const amisim::TouchstoneError&) {
    }
    return 0;
}
