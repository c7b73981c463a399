#pragma once
// One simulated link: the two models of a kit around a channel, in statistical and
// time-domain mode, as an IBIS-AMI simulator runs them.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "amisim/ami_file.hpp"
#include "amisim/kit_files.hpp"
#include "amisim/stat_eye.hpp"
#include "amisim/td_eye.hpp"
#include "amisim/touchstone.hpp"

namespace amisim {

struct LinkConfig {
    std::string kitDir;
    KitFiles files;  // resolved model files
    bool runStat = true, runTd = true;
    double bitRate = 10.3125e9;
    int samplesPerBit = 32;
    double amplitude = 0.5;  // NRZ levels +-amplitude volts
    double lossDb = 20.0;    // built-in line: loss at Nyquist
    double skinFraction = 0.35;
    std::string s4pFile;  // replaces the built-in line when set
    PortOrder ports = PortOrder::Pairs12_34;
    int prbsOrder = 31;
    std::uint64_t bits = 100000;
    std::optional<std::uint64_t> ignoreBits;  // default: the models' Ignore_Bits, else 1000
    int blockBits = 1024;
    double ber = 1e-12;
    std::vector<ParamOverride> txOverrides, rxOverrides;
    bool quiet = false;
};

struct ModelRun {
    std::string library, amiFile, rootName;
    std::string parametersIn;
    std::string message;
    std::string parametersOut;      // from AMI_Init
    std::string lastParametersOut;  // after the last AMI_GetWave (time-domain mode)
    std::map<std::string, double> outputs;
};

struct LinkResult {
    std::string channelDescription;
    double sampleInterval = 0, bitTime = 0;
    std::size_t impulseSamples = 0;
    double channelLossAtNyquistDb = 0;
    ModelRun tx, rx;
    std::vector<std::string> warnings;
    PulseResponse pulse;
    JitterBudget jitter;
    double sensitivity = 0;
    std::optional<StatEyeResult> stat;
    std::optional<TdEyeResult> td;
    std::uint64_t tdBits = 0, tdIgnoreBits = 0;
    double tdSeconds = 0;
};

// Runs the link; throws std::runtime_error (or a subclass) with a clear message on any
// failure of the inputs or the models.
LinkResult runLink(const LinkConfig& cfg);

}  // namespace amisim
