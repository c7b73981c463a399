// The parameter string through the transmitter's AMI_Resolve and AMI_Resolve_Close.
#include <string>

#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = fuzz::AsText(data, size);
    char* resolved = nullptr;
    if (AMI_Resolve(nullptr, text.c_str(), &resolved) == 1 && resolved) {
        volatile std::size_t length = std::string(resolved).size();
        (void)length;
        AMI_Resolve_Close(resolved);
    }
    return 0;
}
