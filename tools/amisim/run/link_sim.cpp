#include "amisim/run/link_sim.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <future>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "amisim/run/adapted_settings.hpp"
#include "amisim/run/analog_link.hpp"
#include "amisim/channel/block_convolver.hpp"
#include "amisim/channel/channel_file.hpp"
#include "amisim/eye/prbs.hpp"
#include "amisim/host/ami_library.hpp"
#include "amisim/run/ordered_worker.hpp"
#include "amisim/run/progress.hpp"

namespace amisim {

namespace {

// Trailing room after the channel so that the models' own delays and responses fit in the row.
constexpr int kRowPaddingBits = 64;
// A waveform peak above this share of the receiver's output range counts as reaching it.
constexpr double kLimitShare = 0.9;
constexpr int kFrequencyPoints = 300;
// Below this the eye's sampling instants and edges are too coarse to trust.
constexpr int kMinTrustedSamplesPerBit = 8;

std::string num(double v, int precision = 4) {
    std::ostringstream os;
    os.precision(precision);
    os << v;
    return os.str();
}

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

// The model's warning lines, what it printed, and a Params_Valid of False.
void collectModelWarnings(ModelRun& run) {
    run.warnings = warningLines(run.message);
    for (const std::string& line : consoleLines(run.console))
        run.warnings.push_back("printed: " + line);
    run.paramsValid = paramsValid(run.parametersOut);
    if (run.paramsValid == false)
        run.warnings.push_back("Params_Valid False: the model repaired at least one setting");
}

// The receiver's lock and lost-clock-time reports, when its output parameters carry them.
void readClockReports(const std::string& parametersOut, std::optional<std::int64_t>& lockBit,
                      std::optional<std::uint64_t>& dropped) {
    if (parametersOut.find("cdr_lock_bit") == std::string::npos &&
        parametersOut.find("clock_times_dropped") == std::string::npos)
        return;
    const std::map<std::string, double> out = numericOutputs(parametersOut);
    if (auto it = out.find("cdr_lock_bit"); it != out.end() && std::isfinite(it->second))
        lockBit = it->second < 0 ? -1 : static_cast<std::int64_t>(std::llround(it->second));
    if (auto it = out.find("clock_times_dropped");
        it != out.end() && it->second >= 0 && std::isfinite(it->second))
        dropped = static_cast<std::uint64_t>(std::llround(it->second));
}

bool declaresFalse(const AmiModelFile& f, const std::string& name) {
    return f.infoValue(name) == std::optional<std::string>("False");
}

std::unique_ptr<WaveformExport> openWaveformExport(const LinkConfig& cfg, std::uint64_t ignore,
                                                   double dt) {
    if (cfg.waveformFile.empty()) return nullptr;
    WaveformRange r = cfg.waveformBits.value_or(WaveformRange{ignore, ignore + 1000});
    r.endBit = std::min(r.endBit, cfg.bits);
    if (r.firstBit >= r.endBit)
        throw std::invalid_argument("--waveform-bits: the run simulates " +
                                    std::to_string(cfg.bits) + " bits, none of them in range");
    return std::make_unique<WaveformExport>(cfg.waveformFile, r, cfg.samplesPerBit, dt);
}

}  // namespace

void validateConfig(const LinkConfig& cfg) {
    using L = LinkLimits;
    auto fail = [](const std::string& what) { throw std::invalid_argument(what); };
    if (!(cfg.bitRate >= L::minBitRate && cfg.bitRate <= L::maxBitRate))
        fail("the bit rate " + num(cfg.bitRate) + " bit/s lies outside " + num(L::minBitRate) +
             " .. " + num(L::maxBitRate) +
             " bit/s, the range amisim simulates (the transmitter model's own legal range is "
             "0.611 .. 17.4 Gb/s)");
    if (cfg.samplesPerBit < L::minSamplesPerBit || cfg.samplesPerBit > L::maxSamplesPerBit)
        fail("the samples per bit must lie within " + std::to_string(L::minSamplesPerBit) + " .. " +
             std::to_string(L::maxSamplesPerBit));
    if (!(cfg.amplitude > 0 && cfg.amplitude <= L::maxAmplitude))
        fail("the stimulus amplitude must lie above 0 and at most " + num(L::maxAmplitude) +
             " V (a transmitter's input is a logic-level signal)");
    if (!(cfg.ber >= L::minBer && cfg.ber <= L::maxBer))
        fail("the target BER must lie within " + num(L::minBer) + " .. " + num(L::maxBer));
    if (cfg.s4pFile.empty()) {
        if (!(cfg.lossDb >= 0 && cfg.lossDb <= L::maxLossDb))
            fail("the line loss must lie within 0 .. " + num(L::maxLossDb) + " dB");
        if (!(cfg.skinFraction >= 0 && cfg.skinFraction <= 1))
            fail("the skin-effect fraction must lie within 0 .. 1");
    }
    if (!cfg.runStat && !cfg.runTd) fail("nothing to simulate: neither mode is selected");
    if (cfg.runTd) {
        if (cfg.bits < L::minBits || cfg.bits > L::maxBits)
            fail("the bits simulated must lie within " + std::to_string(L::minBits) + " .. " +
                 std::to_string(L::maxBits) + " (not " + std::to_string(cfg.bits) + ")");
        if (cfg.ignoreBits && *cfg.ignoreBits > cfg.bits / 2)
            fail("at most half the bits may be ignored: " + std::to_string(*cfg.ignoreBits) +
                 " of " + std::to_string(cfg.bits) + " bits asked");
        if (cfg.blockBits < 1 || static_cast<std::uint64_t>(cfg.blockBits) *
                                         static_cast<std::uint64_t>(cfg.samplesPerBit) >
                                     L::maxBlockSamples)
            fail("a block must hold at least one bit and at most " +
                 std::to_string(L::maxBlockSamples) + " samples (block bits x samples per bit)");
        if (cfg.prbsOrder != 7 && cfg.prbsOrder != 15 && cfg.prbsOrder != 23 && cfg.prbsOrder != 31)
            fail("the PRBS order must be 7, 15, 23 or 31");
    }
}

PreparedChannel prepareChannel(const LinkConfig& cfg) {
    PreparedChannel p;
    const double dt = 1.0 / cfg.bitRate / cfg.samplesPerBit;
    const int spb = cfg.samplesPerBit;
    ChannelInfo& info = p.info;
    FourPortData data;
    if (cfg.s4pFile.empty()) {
        LossyLineOptions lo;
        lo.lossDbAtNyquist = cfg.lossDb;
        lo.nyquistHz = cfg.bitRate / 2;
        lo.skinFraction = cfg.skinFraction;
        p.impulse = buildLossyLine(lo, dt, spb);
        info.type = "lossy_line";
    } else {
        info.type = "touchstone";
        data = readChannelFile(cfg.s4pFile, cfg.throughPorts, p.warnings);
        if (data.frequencies.size() < 2)
            throw TouchstoneError(cfg.s4pFile + ": at least two frequency points are needed");
        PortDetection det = detectPortOrder(data);
        info.detection = det;
        PortOrder order = PortOrder::Pairs12_34;
        if (cfg.throughPorts) {
            order = PortOrder::Pairs12_34;  // the chosen ports come in that numbering
        } else if (cfg.ports) {
            order = *cfg.ports;
            if (det.detected && *det.detected != order)
                p.warnings.push_back(
                    "the channel's low-frequency data show the through paths of "
                    "port numbering " +
                    portOrderName(*det.detected) + ", but " + portOrderName(order) +
                    " was asked for (--ports)");
        } else if (det.detected) {
            order = *det.detected;
            info.portsDetected = true;
        } else {
            p.warnings.push_back("the port numbering could not be found from the data (" +
                                 det.reason + "); using 1-2/3-4: give --ports if that is wrong");
        }
        info.ports = order;
        const std::vector<std::complex<double>> sdd21 = differentialInsertionLoss(data, order);
        ChannelCheck check = checkMeasuredChannel(data, sdd21, cfg.bitRate);
        for (const std::string& w : check.warnings) p.warnings.push_back(w);
        info.nyquistCovered = check.lastHz >= cfg.bitRate / 2;
        info.check = std::move(check);
        p.impulse = buildFromTransferFunction(data.frequencies, sdd21, dt, spb);
        p.impulse.description =
            "Touchstone file " + cfg.s4pFile + " (ports " +
            (cfg.throughPorts ? throughPortsText(*cfg.throughPorts) : portOrderName(order)) +
            (info.portsDetected ? ", found from the data)" : ")");
    }
    applyAnalogEnds(cfg, p, cfg.s4pFile.empty() ? nullptr : &data);
    if (std::all_of(p.impulse.impulse.begin(), p.impulse.impulse.end(),
                    [](double v) { return v == 0.0; }))
        throw std::runtime_error("the channel (" + p.impulse.description +
                                 ") passes no signal; check the port numbering (--ports)");
    info.description = p.impulse.description;
    info.lossAtNyquistDb =
        -20 * std::log10(std::abs(frequencyResponse(p.impulse, cfg.bitRate / 2)));
    return p;
}

LinkConfig statFiguresOnly(LinkConfig cfg) {
    cfg.runStat = true;
    cfg.runTd = false;
    cfg.quiet = true;
    cfg.probeOutputRange = false;
    cfg.frequencyResponse = false;
    cfg.marginWalk = false;
    cfg.statFiguresOnly = true;
    cfg.waveformFile.clear();
    return cfg;
}

LinkResult runLink(const LinkConfig& cfg) {
    validateConfig(cfg);
    return runLink(cfg, prepareChannel(cfg));
}

namespace {

// As simulators do: the database lives in the kit, and a model that asks for DLL_Path gets
// the directory of its library.
std::map<std::string, std::string> reservedParameters(const LinkConfig& cfg, const AmiModelFile& f,
                                                      const std::string& lib) {
    std::map<std::string, std::string> r{{"Database_Path", cfg.kitDir}};
    if (f.find({"DLL_Path"})) {
        r["DLL_Path"] = std::filesystem::absolute(lib).parent_path().string();
    }
    return r;
}

// The output-range probe's parameters: the real receiver's, with the gains its adaptation chose
// set by hand, so the probe equalises alike without running the adaptation a second time.
std::string probeParameterString(const LinkConfig& cfg, const AmiModelFile& rxFile,
                                 const LinkResult& res) {
    const std::optional<std::vector<ParamOverride>> pins = adaptedGainOverrides(res);
    if (!pins) return res.rx.parametersIn;
    std::vector<ParamOverride> overrides = cfg.rxOverrides;
    overrides.insert(overrides.end(), pins->begin(), pins->end());
    try {
        return buildParameterString(rxFile, overrides,
                                    reservedParameters(cfg, rxFile, cfg.files.rxLibrary));
    } catch (const std::exception&) {
        return res.rx.parametersIn;  // the adapting string still measures the same range
    }
}

struct LinkModelFiles {
    AmiModelFile tx, rx;
};

// Reads both .ami files and builds the parameter strings the models get.
LinkModelFiles describeModels(const LinkConfig& cfg, LinkResult& res) {
    LinkModelFiles m{loadModelFile(cfg.files.txAmi), loadModelFile(cfg.files.rxAmi)};
    res.tx = describeRun(
        cfg.files.txLibrary, cfg.files.txAmi, m.tx,
        buildParameterString(m.tx, cfg.txOverrides,
                             reservedParameters(cfg, m.tx, cfg.files.txLibrary), &res.warnings));
    res.rx = describeRun(
        cfg.files.rxLibrary, cfg.files.rxAmi, m.rx,
        buildParameterString(m.rx, cfg.rxOverrides,
                             reservedParameters(cfg, m.rx, cfg.files.rxLibrary), &res.warnings));
    return m;
}

// The bits the time-domain eye leaves out: --ignore-bits, else the models' Ignore_Bits (at most
// half the run), else 1000. Refuses a time-domain run of a model without AMI_GetWave.
std::uint64_t bitsToIgnore(const LinkConfig& cfg, const LinkModelFiles& m, LinkResult& res) {
    const std::uint64_t modelIgnore = std::max(ignoreBitsOf(m.tx), ignoreBitsOf(m.rx));
    std::uint64_t ignore = cfg.ignoreBits ? *cfg.ignoreBits : modelIgnore > 0 ? modelIgnore : 1000;
    if (cfg.runTd) {
        if (!cfg.ignoreBits && ignore > cfg.bits / 2) {
            res.warnings.push_back("the models ask for " + std::to_string(ignore) +
                                   " bits to be ignored (Ignore_Bits), more than half the " +
                                   std::to_string(cfg.bits) + " bits simulated: only " +
                                   std::to_string(cfg.bits / 2) + " are ignored; run --bits " +
                                   std::to_string(2 * ignore) + " or more to measure after them");
            ignore = cfg.bits / 2;
        }
        for (const AmiModelFile* f : {&m.tx, &m.rx})
            if (declaresFalse(*f, "GetWave_Exists"))
                throw std::runtime_error("model " + f->rootName +
                                         " declares no AMI_GetWave (GetWave_Exists False); "
                                         "run it with --mode stat");
    }
    return ignore;
}

// One model's AMI_Init on `row`, which it equalises in place (or, when its .ami file says it
// returns no impulse, leaves as it was).
std::unique_ptr<AmiInstance> initModel(const AmiLibrary& lib, const AmiModelFile& f,
                                       const AmiModelFile& other, ModelRun& run, const char* role,
                                       bool& returnsImpulse, std::vector<double>& row,
                                       LinkResult& res) {
    const std::vector<double> before = row;
    auto inst =
        std::make_unique<AmiInstance>(lib, row, res.sampleInterval, res.bitTime, run.parametersIn);
    run.message = inst->message();
    run.parametersOut = inst->initParametersOut();
    run.console = inst->console();
    run.outputs = numericOutputs(run.parametersOut);
    // a library given for the wrong role answers with the other model's root name
    const std::string answered = rootNameOf(run.parametersOut);
    if (!answered.empty() && answered != f.rootName) {
        if (answered == other.rootName && other.rootName != f.rootName)
            throw std::runtime_error(std::string("the ") + role + " library '" + lib.path() +
                                     "' answers as " + answered +
                                     ", the other model of the "
                                     "link: is it given for the wrong role?");
        res.warnings.push_back(std::string("the ") + role + " library answers as " + answered +
                               " while its .ami file is rooted at " + f.rootName);
    }
    returnsImpulse = !declaresFalse(f, "Init_Returns_Impulse");
    if (!returnsImpulse) row = before;
    return inst;
}

struct LinkInstances {
    std::unique_ptr<AmiInstance> tx, rx;
};

// IBIS-AMI order: the transmitter equalises the channel impulse, the receiver the result. The
// impulse after each is kept in `res`.
LinkInstances initModels(const AmiLibrary& txLib, const AmiLibrary& rxLib, const LinkModelFiles& m,
                         const PreparedChannel& channel, int spb, LinkResult& res) {
    res.channelImpulse = channel.impulse.impulse;
    std::vector<double> row = channel.impulse.impulse;
    row.resize(row.size() + static_cast<std::size_t>(kRowPaddingBits * spb), 0.0);
    res.impulseSamples = row.size();
    LinkInstances inst;
    inst.tx = initModel(txLib, m.tx, m.rx, res.tx, "transmitter", res.txReturnsImpulse, row, res);
    res.txImpulse = row;
    inst.rx = initModel(rxLib, m.rx, m.tx, res.rx, "receiver", res.rxReturnsImpulse, row, res);
    res.linkImpulse = row;
    return inst;
}

// The jitter the models report, each figure as they give it.
struct ModelJitter {
    double txRj = 0, txDj = 0, txDcd = 0, rxRj = 0, rxDcd = 0;
};

// Reads the models' jitter and the receiver's sensitivity; combines the jitter for the
// statistical eye.
ModelJitter readJitterBudget(const LinkModelFiles& m, LinkResult& res) {
    ModelJitter j;
    j.txRj = outputOrInfo(res.tx, m.tx, "Tx_Rj");
    j.rxRj = outputOrInfo(res.rx, m.rx, "Rx_Rj");
    res.jitter.rjRms = std::sqrt(j.txRj * j.txRj + j.rxRj * j.rxRj);
    // The models report deterministic jitter and duty-cycle distortion as half their
    // peak-to-peak value (the offset of each Dirac); the two duty-cycle sources are taken as
    // aligned, so their peak-to-peak values add.
    j.txDj = outputOrInfo(res.tx, m.tx, "Tx_Dj");
    j.txDcd = outputOrInfo(res.tx, m.tx, "Tx_DCD");
    j.rxDcd = outputOrInfo(res.rx, m.rx, "Rx_DCD");
    res.jitter.djPp = 2 * j.txDj;
    res.jitter.dcdPp = 2 * (j.txDcd + j.rxDcd);
    res.sensitivity = outputOrInfo(res.rx, m.rx, "Rx_Receiver_Sensitivity");
    return j;
}

// The pulse responses of the channel alone and of the equalised link.
void makePulses(const LinkConfig& cfg, LinkResult& res) {
    const double dt = res.sampleInterval;
    const int spb = cfg.samplesPerBit;
    res.channelPulse = makePulse(res.channelImpulse, dt, spb, cfg.amplitude);
    res.pulse = makePulse(res.linkImpulse, dt, spb, cfg.amplitude);
    if (!(res.pulse.mainCursor() > 0))
        throw std::runtime_error(
            "the equalised pulse response has no positive main cursor: the "
            "models returned no signal");
}

void runStatisticalEye(const LinkConfig& cfg, LinkResult& res) {
    StatEyeOptions so;
    so.ber = cfg.ber;
    so.jitter = res.jitter;
    so.sensitivity = res.sensitivity;
    so.figuresOnly = cfg.statFiguresOnly;
    auto progress = std::make_shared<Progress>("statistical eye", 0, cfg.quiet, "phases");
    so.progress = [progress](int done, int total) { progress->update(done, total); };
    res.stat = computeStatEye(res.pulse, so);
    progress->finish();
    if (res.stat->jitterCut)
        res.warnings.push_back("the jitter the models report reaches beyond " +
                               num(kMaxJitterSpanUi) +
                               " UI either side and was cut there: the statistical eye is "
                               "closed by jitter alone");
}

TdEyeOptions timeDomainEyeOptions(const LinkConfig& cfg, const LinkResult& res,
                                  std::uint64_t ignore) {
    const int spb = cfg.samplesPerBit;
    TdEyeOptions eo;
    eo.samplesPerBit = spb;
    eo.sampleInterval = res.sampleInterval;
    eo.mainIndex = res.pulse.mainIndex;
    eo.ignoreBits = ignore;
    eo.jitter = res.tdRxJitter;
    eo.seed = cfg.seed * 0x9E3779B97F4A7C15ull + 1;
    eo.sensitivity = res.sensitivity;
    eo.fixedPhaseUi = cfg.tdSamplingPhaseUi;
    // the picture's traces take about half of the eye's work: with the pipeline, they are
    // drawn beside it
    eo.paintAside = cfg.pipelineTd;
    // the largest level the linear link can reach, with room for the models' own overshoot
    double reach = 0;
    const std::size_t step = static_cast<std::size_t>(spb);
    for (std::size_t i = res.pulse.mainIndex % step; i < res.pulse.samples.size(); i += step)
        reach += std::abs(res.pulse.samples[i]);
    eo.levelRange = 1.5 * std::max(reach, res.pulse.mainCursor());
    return eo;
}

// The receiver's own reports after its last block.
struct ReceiverReports {
    std::optional<std::int64_t> lockBit;
    std::optional<std::uint64_t> dropped;
};

// The time-domain loop: the stimulus in blocks through the transmitter, the channel and the
// receiver into the eye, with its progress and the waveform export.
ReceiverReports runBlocks(const LinkConfig& cfg, std::uint64_t ignore, double dt,
                          std::unique_ptr<AmiInstance>& tx, std::unique_ptr<AmiInstance>& rx,
                          NrzStimulus& stimulus, BlockConvolver& convolver, TdEye& eye,
                          ClockRecoveryStats& cdr, LinkResult& res) {
    Progress progress("time domain", cfg.bits, cfg.quiet, "bits");
    // Block k's stimulus, transmitter, convolution, receiver and eye run in that order, and
    // each stage takes its blocks in order. The model calls stay on this thread, since
    // their console capture moves the process's standard output; the stimulus, the
    // channel and the eye run on the worker, the convolution of block k while the
    // receiver runs block k - 1. A block's slot is used again four blocks later, by when
    // the worker has taken the eye of its last occupant (it runs tasks in order), so the
    // memory stays bounded.
    struct Slot {
        std::vector<double> wave, clocks;
        std::uint64_t first = 0, n = 0;
        std::string rxParametersOut;
    };
    std::optional<std::int64_t> lockReport;
    std::optional<std::uint64_t> droppedReport;
    constexpr std::uint64_t kSlots = 4;
    std::array<Slot, kSlots> slots;
    const std::uint64_t blockBits = static_cast<std::uint64_t>(cfg.blockBits);
    const std::uint64_t blocks = (cfg.bits + blockBits - 1) / blockBits;
    std::vector<double> txClocks;
    std::unique_ptr<WaveformExport> waveOut = openWaveformExport(cfg, ignore, dt);
    OrderedWorker worker(cfg.pipelineTd);
    // The slot's fields are set by the task too: until it runs, the eye of the slot's
    // last occupant may still be reading them.
    auto startStimulus = [&](std::uint64_t k) {
        Slot& s = slots[k % kSlots];
        const std::uint64_t first = k * blockBits;
        const std::uint64_t n = std::min(blockBits, cfg.bits - first);
        return worker.submit([&s, &stimulus, first, n] {
            s.first = first;
            s.n = n;
            stimulus.next(n, s.wave);
        });
    };
    std::uint64_t stimulusTicket = startStimulus(0), convolvedTicket = 0;
    for (std::uint64_t k = 0; k <= blocks; ++k) {
        std::uint64_t convolving = 0;
        if (k < blocks) {
            Slot& s = slots[k % kSlots];
            worker.waitFor(stimulusTicket);
            tx->getWave(s.wave, txClocks);
            convolving = worker.submit([&s, &convolver] { convolver.process(s.wave); });
            if (k + 1 < blocks) stimulusTicket = startStimulus(k + 1);
        }
        if (k > 0) {
            Slot& s = slots[(k - 1) % kSlots];
            worker.waitFor(convolvedTicket);
            rx->getWave(s.wave, s.clocks);
            s.rxParametersOut = rx->lastParametersOut();
            worker.submit([&s, &eye, &cdr, &res, &lockReport, &droppedReport, &waveOut] {
                eye.addBlock(s.wave, s.clocks);
                if (waveOut) waveOut->addBlock(s.first, s.wave, s.clocks);
                cdr.add(s.clocks);
                std::vector<DfeTap> reported = dfeTapReport(s.rxParametersOut);
                if (!reported.empty())
                    res.dfeTaps.push_back(DfeTapSnapshot{s.first + s.n, std::move(reported)});
                readClockReports(s.rxParametersOut, lockReport, droppedReport);
            });
            progress.update(s.first + s.n);
        }
        convolvedTicket = convolving;
    }
    worker.finish();
    if (waveOut) {
        waveOut->finish();
        res.waveformRows = waveOut->rows();
    }
    progress.finish();
    res.tdSeconds = progress.elapsedSeconds();
    return ReceiverReports{lockReport, droppedReport};
}

// The time-domain results the loop leaves: the eye, the clock recovery (the receiver's lock
// report overriding what the clock times show) and their warnings.
void finishTimeDomain(const LinkConfig& cfg, LinkResult& res, TdEye& eye, ClockRecoveryStats& cdr,
                      const ReceiverReports& reports, std::uint64_t ignore) {
    const int spb = cfg.samplesPerBit;
    res.tdBits = cfg.bits;
    res.tdIgnoreBits = ignore;
    res.td = eye.finish();
    if (res.td->clockTimes > 1) res.clock = cdr.finish();
    res.rxLockBit = reports.lockBit;
    res.rxClockTimesDropped = reports.dropped;
    if (res.clock && reports.lockBit) {
        // the receiver's lock detector knows better than the period seen from outside
        res.clock->lockFromReceiver = true;
        res.clock->lockBit.reset();
        res.clock->lockTime = 0;
        if (*reports.lockBit >= 0) {
            res.clock->lockBit = static_cast<std::uint64_t>(*reports.lockBit);
            res.clock->lockTime = static_cast<double>(*reports.lockBit) * res.bitTime;
        }
    }
    if (reports.dropped && *reports.dropped > 0)
        res.warnings.push_back("the receiver could not deliver " +
                               std::to_string(*reports.dropped) +
                               " clock times (its clock_times_dropped): the eye sampled at "
                               "its clock times misses those bits");
    if (spb < kMinTrustedSamplesPerBit)
        res.warnings.push_back(
            "the time-domain eye is sampled at " + std::to_string(spb) +
            " samples per bit, too coarsely to trust (edges and sampling instants move by "
            "whole samples): use --samples-per-bit " +
            std::to_string(kMinTrustedSamplesPerBit) + " or more");
    res.settling = checkSettling(*res.td, res.clock, cfg.bits, ignore);
    if (!res.settling->settled) res.warnings.push_back(res.settling->warning);
}

// A PRBS through both models' AMI_GetWave and the channel, into the time-domain eye.
void runTimeDomain(const LinkConfig& cfg, LinkResult& res, const PreparedChannel& channel,
                   LinkInstances& models, const ModelJitter& jitter, std::uint64_t ignore) {
    const double dt = res.sampleInterval;
    Prbs prbs(cfg.prbsOrder);
    std::vector<bool> bits(cfg.bits);
    for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = prbs.next() != 0;
    if (cfg.tdJitter) {
        res.tdTxJitter = EdgeJitter{jitter.txRj, jitter.txDj, jitter.txDcd};
        res.tdRxJitter = SamplingJitter{jitter.rxRj, jitter.rxDcd};
    }
    NrzStimulus stimulus(bits, cfg.samplesPerBit, dt, cfg.amplitude, res.tdTxJitter, cfg.seed);
    std::vector<double> taps = channel.impulse.impulse;
    for (double& t : taps) t *= dt;
    BlockConvolver convolver(std::move(taps));
    TdEye eye(bits, timeDomainEyeOptions(cfg, res, ignore));
    ClockRecoveryStats cdr(res.bitTime);
    const ReceiverReports reports =
        runBlocks(cfg, ignore, dt, models.tx, models.rx, stimulus, convolver, eye, cdr, res);
    finishTimeDomain(cfg, res, eye, cdr, reports, ignore);
    res.tx.lastParametersOut = models.tx->lastParametersOut();
    res.rx.lastParametersOut = models.rx->lastParametersOut();
    res.tx.console = models.tx->console();
    res.rx.console = models.rx->console();
}

// A time-domain waveform that reaches the receiver's output range: the curves compress it,
// which the statistical eye does not see.
void checkOutputLimit(LinkResult& res) {
    const double limit = std::min(res.rxOutputRange->high, -res.rxOutputRange->low);
    res.rxOutputLimited = res.td->peakAbs >= kLimitShare * limit;
    if (res.rxOutputLimited)
        res.warnings.push_back(
            "the receiver's time-domain output reaches its amplitude limit (peak " +
            num(res.td->peakAbs * 1e3, 4) + " mV; its amplitude curves allow " +
            num(res.rxOutputRange->low * 1e3, 4) + " .. " + num(res.rxOutputRange->high * 1e3, 4) +
            " mV): the curves compress the waveform but are not applied to the "
            "impulse, so the time-domain eye (signal " +
            num(res.td->signalLevel * 1e3, 4) +
            " mV at the sampling point) and the statistical "
            "eye (main cursor " +
            num(res.pulse.mainCursor() * 1e3, 4) +
            " mV) differ. This is the model's "
            "behaviour");
}

void measureFrequencyResponse(const LinkConfig& cfg, LinkResult& res) {
    const double dt = res.sampleInterval;
    // up to 1.5 times the bit rate: the band a bit's edges occupy, and a little beyond
    const double fMax = std::min(0.5 / dt, 1.5 * cfg.bitRate);
    res.frequency =
        linkFrequencyResponse(res.channelImpulse, res.txImpulse, res.linkImpulse, dt, fMax,
                              kFrequencyPoints, res.txReturnsImpulse, res.rxReturnsImpulse);
}

}  // namespace

std::vector<std::string> modelWarnings(const LinkResult& res) {
    std::vector<std::string> out;
    for (const ModelRun* m : {&res.tx, &res.rx})
        for (const std::string& w : m->warnings) out.push_back(m->rootName + ": " + w);
    return out;
}

LinkResult runLink(const LinkConfig& cfg, const PreparedChannel& channel) {
    validateConfig(cfg);
    LinkResult res;
    res.bitTime = 1.0 / cfg.bitRate;
    res.sampleInterval = res.bitTime / cfg.samplesPerBit;
    res.channel = channel.info;
    res.warnings = channel.warnings;

    const LinkModelFiles files = describeModels(cfg, res);
    const std::uint64_t ignore = bitsToIgnore(cfg, files, res);
    AmiLibrary txLib(cfg.files.txLibrary, cfg.runTd);
    AmiLibrary rxLib(cfg.files.rxLibrary, cfg.runTd);
    LinkInstances models = initModels(txLib, rxLib, files, channel, cfg.samplesPerBit, res);
    // The receiver's output range is measured by a second instance that starts once the real
    // one holds its diagnostic files, so that those keep their names (a model numbers the
    // files of a second live instance) whether the probe runs alongside the time-domain loop
    // or not. It gets the impulse the real receiver got: a receiver that adapts its gains to
    // the impulse then chooses the same gains in both.
    const bool probing = cfg.runTd && cfg.probeOutputRange;
    res.adaptedGains = adaptedGains(res.rx.message);
    const std::string probeParams = probeParameterString(cfg, files.rx, res);
    std::future<std::optional<std::optional<OutputRange>>> probe;
    if (probing && cfg.pipelineTd)
        probe = startOutputRangeProbe(rxLib, res.txImpulse, res.sampleInterval, res.bitTime,
                                      probeParams, cfg.samplesPerBit);

    const ModelJitter jitter = readJitterBudget(files, res);
    makePulses(cfg, res);
    if (cfg.runStat) runStatisticalEye(cfg, res);
    if (cfg.runTd) {
        runTimeDomain(cfg, res, channel, models, jitter, ignore);
        if (probing) {
            std::optional<std::optional<OutputRange>> range;
            if (probe.valid()) range = probe.get();
            res.rxOutputRange = range
                                    ? *range
                                    : probeOutputRange(rxLib, res.txImpulse, res.sampleInterval,
                                                       res.bitTime, probeParams, cfg.samplesPerBit);
        }
        if (res.rxOutputRange) checkOutputLimit(res);
    }
    if (cfg.frequencyResponse) measureFrequencyResponse(cfg, res);
    collectModelWarnings(res.tx);
    collectModelWarnings(res.rx);
    return res;
}

}  // namespace amisim
