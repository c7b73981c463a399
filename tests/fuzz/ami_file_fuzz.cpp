// amisim's .ami reader and the parameter string it builds from the declared defaults, with an
// override of the first input parameter.
#include "amisim/host/ami_file.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const amisim::AmiList root = amisim::parseAmiText(fuzz::AsText(data, size), "fuzz.ami");
        const amisim::AmiModelFile model = amisim::describeModel(root);
        volatile std::size_t length =
            amisim::buildParameterString(model, {}, {{"Database_Path", "db"}}).size();
        for (const amisim::AmiParameter& p : model.parameters) {
            if (!p.isInput()) continue;
            length =
                length + amisim::buildParameterString(model, {{p.dottedName(), "1"}}, {}).size();
            break;
        }
    } catch (const amisim::AmiFileError&) {
        // A clear refusal is the expected answer to a malformed file or override.
    }
    return 0;
}
