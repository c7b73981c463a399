#include "amisim/run/analog_link.hpp"

#include <cmath>
#include <filesystem>

#include "engine/fft/real_fft_plan.hpp"

namespace amisim {

namespace {

std::size_t nextPowerOfTwo(std::size_t n) {
    std::size_t p = 2;
    while (p < n) p <<= 1;
    return p;
}

double lossDbAt(const ChannelImpulse& ch, double hz) {
    return -20 * std::log10(std::abs(frequencyResponse(ch, hz)));
}

// The parameter string the transmitter gets in the run, for its AMI_Resolve.
std::string transmitterParameters(const LinkConfig& cfg) {
    const AmiModelFile txFile = loadModelFile(cfg.files.txAmi);
    std::map<std::string, std::string> reserved{{"Database_Path", cfg.kitDir}};
    if (txFile.find({"DLL_Path"}))
        reserved["DLL_Path"] =
            std::filesystem::absolute(cfg.files.txLibrary).parent_path().string();
    return buildParameterString(txFile, cfg.txOverrides, reserved);
}

// The value of the last override of `name`, the one that wins.
std::optional<std::string> overrideOf(const std::vector<ParamOverride>& overrides,
                                      const std::string& name) {
    for (auto it = overrides.rbegin(); it != overrides.rend(); ++it)
        if (it->name == name) return it->value;
    return std::nullopt;
}

}  // namespace

std::optional<IbisCorner> ibisCornerOfSetting(const std::string& setting) {
    if (setting == "0") return IbisCorner::Typ;
    if (setting == "1") return IbisCorner::Max;
    if (setting == "2") return IbisCorner::Min;
    return std::nullopt;
}

std::string cornerSettingOf(IbisCorner corner) {
    switch (corner) {
        case IbisCorner::Max:
            return "1";
        case IbisCorner::Min:
            return "2";
        case IbisCorner::Typ:
            break;
    }
    return "0";
}

IbisCorner endsCorner(const LinkConfig& cfg) {
    if (cfg.corner) return *cfg.corner;
    // the corner the user set, the transmitter's before the receiver's; then the one the .ami
    // files default to, in the same order
    for (const auto* overrides : {&cfg.txOverrides, &cfg.rxOverrides})
        if (const auto setting = overrideOf(*overrides, "corner"))
            if (const auto c = ibisCornerOfSetting(*setting)) return *c;
    for (const std::string* ami : {&cfg.files.txAmi, &cfg.files.rxAmi}) {
        if (ami->empty()) continue;
        const AmiModelFile model = loadModelFile(*ami);
        const AmiParameter* p = model.find(std::vector<std::string>{"corner"});
        if (p && p->isInput() && p->defaultValue)
            if (const auto c = ibisCornerOfSetting(*p->defaultValue)) return *c;
    }
    return IbisCorner::Typ;
}

bool endsDiffer(const LinkConfig& cfg, const EndsInfo& ends) {
    if (!ends.analog) return false;
    if (ibisCornerName(endsCorner(cfg)) != ends.corner) return true;
    const TxResolution r = resolveTxFrontEnd(cfg.files.txLibrary, transmitterParameters(cfg));
    return r.txR != ends.resolvedTxR || r.tstoneFile != ends.resolvedFile;
}

ChannelImpulse lineWithEnds(const ChannelImpulse& line, const AnalogEnds& ends, int samplesPerBit) {
    const double dt = line.sampleInterval;
    // the line's own spectrum, finely enough sampled to hold its whole response
    const std::size_t n = nextPowerOfTwo(std::max<std::size_t>(4096, 8 * line.impulse.size()));
    std::vector<double> padded(line.impulse);
    padded.resize(n, 0.0);
    const std::vector<Complex> spectrum = RealSpectrum(padded);
    const double df = 1.0 / (static_cast<double>(n) * dt);
    std::vector<double> hz(n / 2 + 1);
    std::vector<Complex> h(n / 2 + 1);
    // a built-in line is matched to the 100 ohm differential reference at both ends
    constexpr double kLineOhms = 100.0;
    for (std::size_t k = 0; k <= n / 2; ++k) {
        hz[k] = static_cast<double>(k) * df;
        const Complex s21 = spectrum[k] * dt;
        h[k] = ends.transfer({0.0, s21, s21, 0.0}, kLineOhms, hz[k]);
    }
    ChannelImpulse out = buildFromTransferFunction(hz, h, dt, samplesPerBit);
    out.description = line.description;
    return out;
}

void applyAnalogEnds(const LinkConfig& cfg, PreparedChannel& p, const FourPortData* data) {
    EndsInfo& info = p.info.ends;
    if (cfg.idealEnds) {
        info.description =
            "ideal ends (--ideal-ends): the channel's differential insertion "
            "loss between matched, parasitic-free ends";
        return;
    }
    if (cfg.files.ibsFile.empty()) {
        info.description = "ideal ends: the kit has no .ibs file to describe its buffers";
        return;
    }
    const TxResolution resolution =
        resolveTxFrontEnd(cfg.files.txLibrary, transmitterParameters(cfg));
    AnalogEnds ends;
    try {
        ends = loadAnalogEnds(cfg.files.ibsFile, endsCorner(cfg), resolution, cfg.kitDir);
    } catch (const IbisError& e) {
        throw IbisError(std::string(e.what()) +
                        " (the analog ends come from it; --ideal-ends runs without them)");
    } catch (const TouchstoneError& e) {
        throw TouchstoneError(std::string(e.what()) +
                              " (the transmitter's front end; --ideal-ends runs without it)");
    }
    for (const std::string& w : ends.warnings) p.warnings.push_back(w);

    const double dt = p.impulse.sampleInterval;
    const int spb = cfg.samplesPerBit;
    const double nyquist = cfg.bitRate / 2;
    const double idealLoss = lossDbAt(p.impulse, nyquist);
    const std::string description = p.impulse.description;
    if (data) {
        const PortOrder order = p.info.ports.value_or(PortOrder::Pairs12_34);
        std::vector<Complex> h(data->frequencies.size());
        for (std::size_t k = 0; k < h.size(); ++k)
            h[k] = ends.transfer(differentialS(data->s[k], order), 2 * data->referenceOhms,
                                 data->frequencies[k]);
        p.impulse = buildFromTransferFunction(data->frequencies, h, dt, spb);
    } else {
        p.impulse = lineWithEnds(p.impulse, ends, spb);
    }
    p.impulse.description = description + ", with the " + ends.corner + " analog ends";
    info.analog = true;
    info.description = ends.describe();
    info.corner = ends.corner;
    info.txFrontEndFile = ends.txFrontEndFile;
    info.resolvedTxR = resolution.txR;
    info.resolvedFile = resolution.tstoneFile;
    info.costAtNyquistDb = lossDbAt(p.impulse, nyquist) - idealLoss;
}

}  // namespace amisim
