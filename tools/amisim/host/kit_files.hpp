#pragma once
// Finding the model files of a kit directory: from the .ibs file's [Algorithmic Model]
// Executable lines, else by the kit's standard file names.
#include <map>
#include <string>

namespace amisim {

struct KitFiles {
    std::string txLibrary, txAmi, rxLibrary, rxAmi;
    std::string ibsFile;  // empty when none was used
};

// Explicit paths in `given` (non-empty fields) win over what the kit holds.
KitFiles locateKit(const std::string& kitDir, const KitFiles& given);

// Numeric output parameters of a model's output string: name -> value (nested names dotted).
std::map<std::string, double> numericOutputs(const std::string& parametersOut);

}  // namespace amisim
