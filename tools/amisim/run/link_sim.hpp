#pragma once
// One simulated link: the two models of a kit around a channel, in statistical and
// time-domain mode, as an IBIS-AMI simulator runs them.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "amisim/channel/analog_ends.hpp"
#include "amisim/channel/channel.hpp"
#include "amisim/channel/channel_checks.hpp"
#include "amisim/channel/frequency_response.hpp"
#include "amisim/channel/port_detection.hpp"
#include "amisim/channel/touchstone.hpp"
#include "amisim/eye/clock_recovery.hpp"
#include "amisim/eye/eye_mask.hpp"
#include "amisim/eye/eye_settling.hpp"
#include "amisim/eye/stat_eye.hpp"
#include "amisim/eye/stimulus.hpp"
#include "amisim/eye/td_eye.hpp"
#include "amisim/host/ami_file.hpp"
#include "amisim/host/amplitude_probe.hpp"
#include "amisim/host/kit_files.hpp"
#include "amisim/host/model_messages.hpp"
#include "amisim/run/margin_walk.hpp"
#include "amisim/run/waveform_export.hpp"

namespace amisim {

// What amisim accepts: beyond these a run is refused before any work, since its sizes (and
// time) would run away. The models report their own legal ranges as warnings.
struct LinkLimits {
    static constexpr double minBitRate = 1e8, maxBitRate = 1e11;
    static constexpr int minSamplesPerBit = 2, maxSamplesPerBit = 1024;
    static constexpr std::uint64_t minBits = 100, maxBits = 1000000000;
    static constexpr std::uint64_t maxBlockSamples = std::uint64_t{1} << 24;
    static constexpr double maxAmplitude = 5.0;
    static constexpr double minBer = 1e-30, maxBer = 0.1;
    static constexpr double maxLossDb = 80.0;
};

struct LinkConfig {
    std::string kitDir;
    KitFiles files;  // resolved model files
    bool runStat = true, runTd = true;
    double bitRate = 10.3125e9;
    int samplesPerBit = 32;
    double amplitude = 0.5;  // NRZ levels +-amplitude volts
    double lossDb = 20.0;    // built-in line: loss at Nyquist
    double skinFraction = 0.35;
    std::string s4pFile;             // replaces the built-in line when set
    std::optional<PortOrder> ports;  // empty: found from the file's low-frequency data
    // The through pair of a file of more than four ports (input P, N, output P, N).
    std::optional<std::array<int, 4>> throughPorts;
    int prbsOrder = 31;
    std::uint64_t bits = 100000;
    std::optional<std::uint64_t> ignoreBits;  // default: the models' Ignore_Bits, else 1000
    int blockBits = 1024;
    double ber = 1e-12;
    bool tdJitter = true;    // the models' jitter on the time-domain edges and sampling instants
    std::uint64_t seed = 1;  // of the time-domain jitter
    bool probeOutputRange = true;  // measure the receiver's output range (time domain)
    // Time domain on two threads: the loop pipelined, the output-range probe alongside it.
    // The figures are the same either way; false runs everything on the calling thread.
    bool pipelineTd = true;
    bool frequencyResponse = true;  // compute the parts' frequency responses
    // Without clock times from the receiver the time-domain eye is sampled at this phase from
    // the bit centre (UI) rather than at the best one.
    std::optional<double> tdSamplingPhaseUi;
    bool marginWalk = true;  // the top-level run explains the gap between its two eyes
    // The buffers' and packages' analog ends from the kit's .ibs around the channel; ideal
    // ends leave the channel's SDD21 alone.
    bool idealEnds = false;
    // The corner of the ends (--corner). Empty: they follow the models' own corner parameter,
    // the transmitter's when it is set (its AMI_Resolve names its front end by it), else the
    // receiver's, else typical.
    std::optional<IbisCorner> corner;
    // The receiver's time-domain output written as CSV, over these bits (default: the first
    // thousand after the ignored ones).
    std::string waveformFile;
    std::optional<WaveformRange> waveformBits;
    bool statFiguresOnly = false;  // statistical eye figures without its picture's data
    std::vector<ParamOverride> txOverrides, rxOverrides;
    bool quiet = false;
};

// Throws std::invalid_argument with a clear message when a setting lies outside LinkLimits or
// settings contradict each other.
void validateConfig(const LinkConfig& cfg);

struct ModelRun {
    std::string library, amiFile, rootName;
    std::string parametersIn;
    std::string message;
    std::string parametersOut;      // from AMI_Init
    std::string lastParametersOut;  // after the last AMI_GetWave (time-domain mode)
    std::map<std::string, double> outputs;
    std::string console;                // what it printed on standard output
    std::vector<std::string> warnings;  // its warning lines, console lines and Params_Valid False
    std::optional<bool> paramsValid;
};

struct ChannelInfo {
    std::string type;  // "lossy_line" or "touchstone"
    std::string description;
    double lossAtNyquistDb = 0;
    bool nyquistCovered = true;      // false when measured data stop below Nyquist
    std::optional<PortOrder> ports;  // the numbering used (Touchstone)
    bool portsDetected = false;      // found from the data rather than given
    std::optional<PortDetection> detection;
    std::optional<ChannelCheck> check;
    EndsInfo ends;
};

struct PreparedChannel {
    ChannelImpulse impulse;
    ChannelInfo info;
    std::vector<std::string> warnings;
};

// Builds the channel of `cfg` at its sample interval, with the checks of a measured file.
PreparedChannel prepareChannel(const LinkConfig& cfg);

struct DfeTapSnapshot {
    std::uint64_t bit = 0;  // bits sent when the receiver reported these taps
    std::vector<DfeTap> taps;
};

struct LinkResult {
    ChannelInfo channel;
    double sampleInterval = 0, bitTime = 0;
    std::size_t impulseSamples = 0;
    ModelRun tx, rx;
    std::vector<std::string> warnings;  // amisim's own: settings, channel, amplitude limits
    // impulse responses (1/s): the channel, after the transmitter's AMI_Init, after both
    std::vector<double> channelImpulse, txImpulse, linkImpulse;
    bool txReturnsImpulse = true, rxReturnsImpulse = true;
    PulseResponse channelPulse, pulse;
    JitterBudget jitter;
    double sensitivity = 0;
    std::optional<AdaptedGains> adaptedGains;
    std::optional<StatEyeResult> stat;
    std::optional<TdEyeResult> td;
    EdgeJitter tdTxJitter;
    SamplingJitter tdRxJitter;
    std::uint64_t tdBits = 0, tdIgnoreBits = 0;
    double tdSeconds = 0;
    std::optional<ClockRecoveryResult> clock;
    std::vector<DfeTapSnapshot> dfeTaps;  // after every block that reported taps
    std::optional<LinkFrequencyResponse> frequency;
    std::optional<OutputRange> rxOutputRange;
    bool rxOutputLimited = false;  // the time-domain waveform reached the receiver's range
    // The receiver's own reports after its last AMI_GetWave, where it gives them: the bit at
    // which its lock detector entered lock (-1: unlocked) and the clock times it could not
    // deliver.
    std::optional<std::int64_t> rxLockBit;
    std::optional<std::uint64_t> rxClockTimesDropped;
    std::optional<SettlingCheck> settling;  // time domain: has the eye settled?
    std::optional<MarginWalk> marginWalk;   // from the statistical to the time-domain eye
    std::uint64_t waveformRows = 0;         // rows written to cfg.waveformFile
    // The eye mask asked for, and how each eye meets it (empty: that eye does not cover it).
    std::optional<EyeMask> mask;
    std::optional<MaskCheck> statMask, tdMask;
};

// Runs the link; throws std::runtime_error (or a subclass) with a clear message on any
// failure of the inputs or the models. The second form reuses a channel already built for the
// same bit rate and samples per bit.
// The link cut down to its statistical eye figures, quietly: what a sweep point or a comparison
// eye needs (no time domain, probe, frequency response, margin walk or waveform file).
LinkConfig statFiguresOnly(LinkConfig cfg);

LinkResult runLink(const LinkConfig& cfg);
LinkResult runLink(const LinkConfig& cfg, const PreparedChannel& channel);

// Every model warning, each prefixed with the model's root name.
std::vector<std::string> modelWarnings(const LinkResult& res);

}  // namespace amisim
