#include "amisim/host/kit_files.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "amisim/host/ami_file.hpp"

namespace amisim {

namespace fs = std::filesystem;

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

struct Executable {
    std::string platform, library, ami, modelType;
};

std::vector<Executable> readExecutables(const fs::path& ibs) {
    std::vector<Executable> out;
    std::ifstream in(ibs);
    std::string line, modelType;
    while (std::getline(in, line)) {
        if (auto bar = line.find('|'); bar != std::string::npos) line.erase(bar);
        std::istringstream ls(line);
        std::string first;
        if (!(ls >> first)) continue;
        std::string key = lower(first);
        if (key == "[model]") modelType.clear();
        if (key == "model_type") ls >> modelType;
        if (key == "executable") {
            Executable e;
            e.modelType = lower(modelType);
            if (ls >> e.platform >> e.library >> e.ami) out.push_back(e);
        }
    }
    return out;
}

// IBIS names platforms platform_compiler_bits (Linux_gcc_64); older kits write the
// architecture instead (Linux_gcc_x86_64). This host takes 64-bit Linux entries only.
bool forThisHost(const std::string& platform) {
    const std::string p = lower(platform);
    const auto first = p.find('_');
    const auto last = p.rfind('_');
    if (first == std::string::npos || last == first) return false;
    return p.substr(0, first) == "linux" && p.substr(last + 1) == "64";
}

bool isReceiver(const Executable& e) {
    if (e.modelType == "input") return true;
    if (e.modelType == "output" || e.modelType == "3-state" || e.modelType == "open_drain")
        return false;
    return lower(e.library).find("rx") != std::string::npos;
}

}  // namespace

KitFiles locateKit(const std::string& kitDir, const KitFiles& given) {
    KitFiles k;
    k.txLibrary = (fs::path(kitDir) / "v10kx_ami_tx_x64.so").string();
    k.rxLibrary = (fs::path(kitDir) / "v10kx_ami_rx_x64.so").string();
    k.txAmi = (fs::path(kitDir) / "v10kx_ami_tx.ami").string();
    k.rxAmi = (fs::path(kitDir) / "v10kx_ami_rx.ami").string();
    std::error_code ec;
    std::vector<fs::path> ibsFiles;
    for (const auto& entry : fs::directory_iterator(kitDir, ec))
        if (entry.path().extension() == ".ibs") ibsFiles.push_back(entry.path());
    std::sort(ibsFiles.begin(), ibsFiles.end());
    for (const fs::path& ibs : ibsFiles) {
        bool used = false;
        for (const Executable& e : readExecutables(ibs)) {
            if (!forThisHost(e.platform)) continue;
            std::string lib = (fs::path(kitDir) / e.library).string();
            std::string ami = (fs::path(kitDir) / e.ami).string();
            if (isReceiver(e)) {
                k.rxLibrary = lib;
                k.rxAmi = ami;
            } else {
                k.txLibrary = lib;
                k.txAmi = ami;
            }
            used = true;
        }
        if (used) {
            k.ibsFile = ibs.string();
            break;
        }
    }
    if (!given.txLibrary.empty()) k.txLibrary = given.txLibrary;
    if (!given.rxLibrary.empty()) k.rxLibrary = given.rxLibrary;
    if (!given.txAmi.empty()) k.txAmi = given.txAmi;
    if (!given.rxAmi.empty()) k.rxAmi = given.rxAmi;
    return k;
}

namespace {
void collectNumbers(const AmiList& l, const std::string& prefix,
                    std::map<std::string, double>& out) {
    const std::string name = prefix.empty() ? l.name : prefix + "." + l.name;
    if (l.values.size() == 1 && l.lists.empty()) {
        char* end = nullptr;
        const double v = std::strtod(l.values[0].c_str(), &end);
        if (end != l.values[0].c_str() && *end == '\0') out[name] = v;
    }
    for (const AmiList& c : l.lists) collectNumbers(c, name, out);
}
}  // namespace

std::map<std::string, double> numericOutputs(const std::string& parametersOut) {
    std::map<std::string, double> out;
    try {
        AmiList root = parseAmiText(parametersOut, "output parameters");
        for (const AmiList& c : root.lists) collectNumbers(c, "", out);
    } catch (const AmiFileError&) {
        // a model's output string that does not parse just carries no figures
    }
    return out;
}

}  // namespace amisim
