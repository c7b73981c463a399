#include "tx/tx_construction.hpp"

#include <array>
#include <cmath>
#include <cstdio>
#include <optional>

#include "framework/ami_exceptions.hpp"
#include "framework/ami_tree.hpp"
#include "framework/database_path.hpp"
#include "framework/format.hpp"
#include "framework/param_queries.hpp"
#include "tx/device_database.hpp"
#include "tx/tap_weights.hpp"
#include "tx/tx_jitter.hpp"
#include "tx/tx_parameters.hpp"

namespace v10kx_ami_tx {

namespace {

using ami::Format;

constexpr std::int32_t kMinVod = 2;
constexpr std::int32_t kMaxVod = 31;
constexpr const char* kTapNames[4] = {"ptap2", "ptap1", "tap1", "tap2"};
constexpr const char* kInvertNames[4] = {"inv_ptap2", "inv_ptap1", "inv_tap1", "inv_tap2"};

// Limit of tap i for a Vod setting; a row the FIR map never filled allows no pre-emphasis.
std::int32_t TapLimit(const TapLimitTable& table, std::int32_t vod, std::size_t i) {
    const std::vector<std::int32_t>& row = table[static_cast<std::size_t>(vod)];
    return i < row.size() ? row[i] : 0;
}

struct TapSelection {
    std::int32_t vod = kMaxVod;
    std::array<std::int32_t, 4> value{};
    std::array<std::int32_t, 4> sign{1, 1, 1, 1};
};

// Reads and checks the taps and their inversion selectors; any of them absent or unreadable
// sets the defaults for Vod and all taps.
void ReadTaps(const AmiParamTree& tree, const TapLimitTable& limits, TapSelection& taps,
              std::string& log, bool& paramsValid) {
    try {
        for (std::size_t i = 0; i < 4; ++i) {
            const char* name = kTapNames[i];
            std::int32_t v = ReadIntParam(tree, name);
            if (v < 0) {
                log += std::string("**Warning** Value given for '") + name +
                       "' was negative and has been set to '0'.\n"
                       "In order to set a negative tap value, use a positive number, here, and "
                       "set the tap's invert selector to '1'.\n";
                v = 0;
                paramsValid = false;
            }
            const std::int32_t hardware = TapLimit(limits, kMaxVod, i);
            if (v > hardware) {
                log += Format(
                    "**Warning** Value given for '%s' was larger than could be set in hardware "
                    "(%d) and has been limited.\n",
                    name, hardware);
                v = hardware;
                paramsValid = false;
            }
            if (v > TapLimit(limits, taps.vod, i)) {
                log += Format(
                    "**Warning** Value given for '%s' was too high, given the Vod selection.\n"
                    "  It has been left unchanged.\n",
                    name);
                paramsValid = false;
            }
            taps.value[i] = v;
        }
        for (std::size_t i = 0; i < 4; ++i)
            if (ReadIntParam(tree, kInvertNames[i]) != 0) taps.sign[i] = -taps.sign[i];
    } catch (const AmiException& e) {
        log += "**Warning** " + e.GetText() + "\nUsing default values: Vod = 31; all taps = 0.\n";
        taps.vod = kMaxVod;
        taps.value = {0, 0, 0, 0};
        paramsValid = false;
    }
}

// A grid without a sample in every bit cannot carry a filter whose taps are a bit apart, and
// times that are not positive are no grid at all: the simulator gets a clear refusal, as the
// receiver gives it, instead of a waveform it would take for the equalised one.
void CheckSampleGrid(double sample_interval, double bit_time) {
    if (!(sample_interval > 0) || !std::isfinite(sample_interval)) {
        throw AmiException(
            Format("Invalid sample_interval %g s: it must be a positive time.", sample_interval));
    }
    if (!(bit_time > 0) || !std::isfinite(bit_time)) {
        throw AmiException(Format("Invalid bit_time %g s: it must be a positive time.", bit_time));
    }
    if (sample_interval > bit_time) {
        throw AmiException(
            Format("Invalid sample_interval %g s: it is longer than the bit time of %g s.",
                   sample_interval, bit_time));
    }
}

// Whole samples per bit, or nothing when there are too many to lay the tap filter out.
std::optional<std::int64_t> SamplesPerBit(double sample_interval, double bit_time) {
    const double q = bit_time / sample_interval;
    if (!(q >= 1.0 && q < static_cast<double>(kMaxSamplesPerBit + 1))) return std::nullopt;
    return static_cast<std::int64_t>(q);
}

}  // namespace

TxSetup ConstructTx(const AmiParamTree& tree, double sample_interval, double bit_time,
                    TxSharedState& shared, const std::string& moduleDir, std::ostream& console) {
    CheckSampleGrid(sample_interval, bit_time);
    std::lock_guard<std::mutex> lock(shared.mutex);
    TxSetup setup;
    std::string& log = setup.msgLog;
    log = "Model Identification: Vanta-10 Tx AMI v1.7\n\n";
    setup.paramsOut = "(Vanta10_Tx\n  (Description \"Vanta-10 Tx v1.7\")\n";

    shared.dataDir = WithTrailingSlash(ResolveDataDir(tree, log, moduleDir).dataDir);

    std::string vodText = "31";
    if (std::optional<std::string> text = ReadLeaf(tree, "Vod")) {
        vodText = *text;
    } else {
        log +=
            "**Warning** 'Vod' was not found probably due to using v10kx_tx_tlv.ami in non-TLV "
            "platform.\n";
    }
    const std::optional<std::int32_t> vodRead = ScanInt(vodText);
    if (!vodRead) throw EBadParamValue("Vod = " + vodText);

    const std::optional<std::string> vcc = ReadLeaf(tree, "Vcc");
    shared.selections.supplyId =
        vcc && *vcc == "1" ? "1.1 V" : (vcc && *vcc == "2" ? "0.9 V" : "1.0 V");
    const std::optional<std::string> corner = ReadLeaf(tree, "corner");
    shared.selections.cornerName =
        corner && *corner == "1" ? "Fast" : (corner && *corner == "2" ? "Slow" : "Typical");
    shared.selections.bitRate = 1.0 / bit_time;

    LoadVodTables(shared, log);
    const std::optional<FirMap> map = LoadFirMap(shared, log, console);
    if (map) BuildTapLimits(*map, shared.tapLimitTable);

    bool paramsValid = true;
    ReportTxJitter(shared.selections.bitRate, log, setup.paramsOut, paramsValid);

    TapSelection taps;
    taps.vod = *vodRead;
    if (taps.vod < kMinVod) {
        log += Format("**Warning** Value given for 'Vod' was too low; using '%d'.\n", kMinVod);
        taps.vod = kMinVod;
        paramsValid = false;
    } else if (taps.vod > kMaxVod) {
        log += Format("**Warning** Value given for 'Vod' was too high; using '%d'.\n", kMaxVod);
        taps.vod = kMaxVod;
        paramsValid = false;
    }
    ReadTaps(tree, shared.tapLimitTable, taps, log, paramsValid);

    if (taps.value[2] == 0 && taps.value[3] != 0) {
        log += "**Warning** Tap 2 can only be effective when Tap 1 is enabled.\n";
        paramsValid = false;
    }
    SignedTapSettings settings{};
    for (std::size_t i = 0; i < 4; ++i) settings[i] = taps.sign[i] * taps.value[i];
    log += "\nUser selections:\n";
    log += Format("\tVod:\t%d\n", taps.vod);
    log += Format("\tPretap2:\t%d\n", settings[0]);
    log += Format("\tPretap1:\t%d\n", settings[1]);
    log += Format("\tTap1:\t%d\n", settings[2]);
    log += Format("\tTap2:\t%d\n", settings[3]);

    const double amplitude =
        VodAmplitude(taps.vod, shared.vodTable, shared.vodCoefTable, shared.selections, console);
    if (const std::optional<std::int64_t> spb = SamplesPerBit(sample_interval, bit_time)) {
        setup.samplesPerBit = *spb;
        std::string problem;
        const FiveTaps weights = ComputeTapWeights(amplitude, map, settings, problem);
        if (map && !problem.empty())
            log += "**Warning** Pre-emphasis is disabled: " + problem +
                   ".\n  The output is the main cursor only.\n";
        // Tap settings that could not be applied count as repaired ones.
        if (!problem.empty() && settings != SignedTapSettings{}) paramsValid = false;
        setup.tapWeights = LayoutTapWeights(weights, setup.samplesPerBit);
        log += FormatTapWeights(setup.tapWeights, setup.samplesPerBit);
    } else {
        // Taps this many samples apart would take more memory than the link is worth; the
        // swing still applies, as the only weight.
        log += Format(
            "**Warning** A bit time of %g s sampled every %g s gives more than %lld samples per "
            "bit.\n  Pre-emphasis is disabled: the output is the main cursor only.\n",
            bit_time, sample_interval, static_cast<long long>(kMaxSamplesPerBit));
        paramsValid = false;
        setup.samplesPerBit = 0;
        setup.tapWeights = {amplitude};
        log += Format("\nCalculated tap weights:\n\tMain:\t%f\n", amplitude);
    }

    setup.paramsOut += paramsValid ? "  (Params_Valid True)\n" : "  (Params_Valid False)\n";
    setup.paramsOut += ")\n";
    return setup;
}

}  // namespace v10kx_ami_tx
