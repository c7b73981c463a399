#include "amisim/link_sim.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "amisim/ami_library.hpp"
#include "amisim/block_convolver.hpp"
#include "amisim/channel.hpp"
#include "amisim/prbs.hpp"
#include "amisim/progress.hpp"

namespace amisim {

namespace {

// Trailing room after the channel so that the models' own delays and responses fit in the row.
constexpr int kRowPaddingBits = 64;

double outputOrInfo(const ModelRun& run, const AmiModelFile& file, const std::string& name) {
    if (auto it = run.outputs.find(name); it != run.outputs.end()) return it->second;
    if (auto v = file.infoValue(name)) {
        char* end = nullptr;
        const double d = std::strtod(v->c_str(), &end);
        if (end != v->c_str() && *end == '\0') return d;
    }
    return 0.0;
}

std::uint64_t ignoreBitsOf(const AmiModelFile& f) {
    if (auto v = f.infoValue("Ignore_Bits")) {
        char* end = nullptr;
        const long long n = std::strtoll(v->c_str(), &end, 10);
        if (end != v->c_str() && *end == '\0' && n > 0) return static_cast<std::uint64_t>(n);
    }
    return 0;
}

ModelRun describeRun(const std::string& lib, const std::string& ami, const AmiModelFile& f,
                     std::string params) {
    ModelRun r;
    r.library = lib;
    r.amiFile = ami;
    r.rootName = f.rootName;
    r.parametersIn = std::move(params);
    return r;
}

}  // namespace

LinkResult runLink(const LinkConfig& cfg) {
    if (!(cfg.bitRate > 0)) throw std::invalid_argument("the bit rate must be positive");
    if (cfg.samplesPerBit < 2) throw std::invalid_argument("at least 2 samples per bit are needed");
    if (cfg.runTd && cfg.bits == 0)
        throw std::invalid_argument("the number of bits must be positive");
    if (cfg.blockBits < 1) throw std::invalid_argument("the block length must be at least one bit");
    if (!(cfg.amplitude > 0))
        throw std::invalid_argument("the stimulus amplitude must be positive");

    LinkResult res;
    res.bitTime = 1.0 / cfg.bitRate;
    res.sampleInterval = res.bitTime / cfg.samplesPerBit;
    const double dt = res.sampleInterval;
    const int spb = cfg.samplesPerBit;

    const AmiModelFile txFile = loadModelFile(cfg.files.txAmi);
    const AmiModelFile rxFile = loadModelFile(cfg.files.rxAmi);
    // As simulators do: the database lives in the kit, and a model that asks for DLL_Path gets
    // the directory of its library.
    auto reservedFor = [&](const AmiModelFile& f, const std::string& lib) {
        std::map<std::string, std::string> r{{"Database_Path", cfg.kitDir}};
        if (f.find({"DLL_Path"})) {
            r["DLL_Path"] = std::filesystem::absolute(lib).parent_path().string();
        }
        return r;
    };
    res.tx =
        describeRun(cfg.files.txLibrary, cfg.files.txAmi, txFile,
                    buildParameterString(txFile, cfg.txOverrides,
                                         reservedFor(txFile, cfg.files.txLibrary), &res.warnings));
    res.rx =
        describeRun(cfg.files.rxLibrary, cfg.files.rxAmi, rxFile,
                    buildParameterString(rxFile, cfg.rxOverrides,
                                         reservedFor(rxFile, cfg.files.rxLibrary), &res.warnings));

    const std::uint64_t modelIgnore = std::max(ignoreBitsOf(txFile), ignoreBitsOf(rxFile));
    std::uint64_t ignore = cfg.ignoreBits ? *cfg.ignoreBits : modelIgnore > 0 ? modelIgnore : 1000;
    if (cfg.runTd) {
        if (!cfg.ignoreBits) ignore = std::min(ignore, cfg.bits / 2);
        if (ignore >= cfg.bits)
            throw std::invalid_argument("the bits to ignore (" + std::to_string(ignore) +
                                        ") must be fewer than the bits simulated (" +
                                        std::to_string(cfg.bits) + ")");
    }

    if (cfg.runTd) {
        for (const AmiModelFile* f : {&txFile, &rxFile})
            if (f->infoValue("GetWave_Exists") == std::optional<std::string>("False"))
                throw std::runtime_error("model " + f->rootName +
                                         " declares no AMI_GetWave (GetWave_Exists False); "
                                         "run it with --mode stat");
    }
    AmiLibrary txLib(cfg.files.txLibrary, cfg.runTd);
    AmiLibrary rxLib(cfg.files.rxLibrary, cfg.runTd);

    ChannelImpulse ch;
    if (cfg.s4pFile.empty()) {
        LossyLineOptions lo;
        lo.lossDbAtNyquist = cfg.lossDb;
        lo.nyquistHz = cfg.bitRate / 2;
        lo.skinFraction = cfg.skinFraction;
        ch = buildLossyLine(lo, dt, spb);
    } else {
        ch = buildFromS4p(cfg.s4pFile, cfg.ports, dt, spb);
    }
    if (std::all_of(ch.impulse.begin(), ch.impulse.end(), [](double v) { return v == 0.0; }))
        throw std::runtime_error("the channel (" + ch.description +
                                 ") passes no signal; check the port numbering (--ports)");
    res.channelDescription = ch.description;
    res.channelLossAtNyquistDb = -20 * std::log10(std::abs(frequencyResponse(ch, cfg.bitRate / 2)));

    std::vector<double> row = ch.impulse;
    row.resize(row.size() + static_cast<std::size_t>(kRowPaddingBits * spb), 0.0);
    res.impulseSamples = row.size();

    // IBIS-AMI order: the transmitter equalises the channel impulse, the receiver the result.
    auto initModel = [&](const AmiLibrary& lib, const AmiModelFile& f, ModelRun& run) {
        const std::vector<double> before = row;
        auto inst = std::make_unique<AmiInstance>(lib, row, dt, res.bitTime, run.parametersIn);
        run.message = inst->message();
        run.parametersOut = inst->initParametersOut();
        run.outputs = numericOutputs(run.parametersOut);
        if (f.infoValue("Init_Returns_Impulse") == std::optional<std::string>("False"))
            row = before;
        return inst;
    };
    auto tx = initModel(txLib, txFile, res.tx);
    auto rx = initModel(rxLib, rxFile, res.rx);

    const double txRj = outputOrInfo(res.tx, txFile, "Tx_Rj");
    const double rxRj = outputOrInfo(res.rx, rxFile, "Rx_Rj");
    res.jitter.rjRms = std::sqrt(txRj * txRj + rxRj * rxRj);
    // The models report deterministic jitter and duty-cycle distortion as half their
    // peak-to-peak value (the offset of each Dirac); the two duty-cycle sources are taken as
    // aligned, so their peak-to-peak values add.
    res.jitter.djPp = 2 * outputOrInfo(res.tx, txFile, "Tx_Dj");
    res.jitter.dcdPp =
        2 * (outputOrInfo(res.tx, txFile, "Tx_DCD") + outputOrInfo(res.rx, rxFile, "Rx_DCD"));
    res.sensitivity = outputOrInfo(res.rx, rxFile, "Rx_Receiver_Sensitivity");

    res.pulse = makePulse(row, dt, spb, cfg.amplitude);
    if (!(res.pulse.mainCursor() > 0))
        throw std::runtime_error(
            "the equalised pulse response has no positive main cursor: the "
            "models returned no signal");
    if (cfg.runStat) {
        StatEyeOptions so;
        so.ber = cfg.ber;
        so.jitter = res.jitter;
        so.sensitivity = res.sensitivity;
        res.stat = computeStatEye(res.pulse, so);
    }

    if (cfg.runTd) {
        Prbs prbs(cfg.prbsOrder);
        std::vector<std::uint8_t> bits(cfg.bits);
        for (auto& b : bits) b = static_cast<std::uint8_t>(prbs.next());
        std::vector<double> taps = ch.impulse;
        for (double& t : taps) t *= dt;
        BlockConvolver channel(std::move(taps));
        TdEye eye(bits, spb, dt, res.pulse.mainIndex, ignore);
        Progress progress("time domain", cfg.bits, cfg.quiet);
        std::vector<double> wave, clocks;
        for (std::uint64_t first = 0; first < cfg.bits;
             first += static_cast<std::uint64_t>(cfg.blockBits)) {
            const std::uint64_t n = std::min<std::uint64_t>(
                static_cast<std::uint64_t>(cfg.blockBits), cfg.bits - first);
            wave.resize(n * static_cast<std::uint64_t>(spb));
            for (std::uint64_t b = 0; b < n; ++b) {
                const double level = bits[first + b] ? cfg.amplitude : -cfg.amplitude;
                std::fill_n(wave.begin() + static_cast<long>(b * static_cast<std::uint64_t>(spb)),
                            spb, level);
            }
            tx->getWave(wave, clocks);
            channel.process(wave);
            rx->getWave(wave, clocks);
            eye.addBlock(wave, clocks);
            progress.update(first + n);
        }
        progress.finish();
        res.tdSeconds = progress.elapsedSeconds();
        res.tdBits = cfg.bits;
        res.tdIgnoreBits = ignore;
        res.td = eye.finish();
        res.tx.lastParametersOut = tx->lastParametersOut();
        res.rx.lastParametersOut = rx->lastParametersOut();
    }
    return res;
}

}  // namespace amisim
