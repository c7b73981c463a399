#include "amisim/command_line.hpp"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "amisim/analog_channel.hpp"
#include "amisim/link_sim.hpp"
#include "amisim/output_folder.hpp"
#include "amisim/param_listing.hpp"
#include "amisim/plots.hpp"
#include "amisim/report.hpp"
#include "amisim/sweep.hpp"

#ifndef AMISIM_DEFAULT_KIT_DIR
#define AMISIM_DEFAULT_KIT_DIR "build/kit"
#endif
#ifndef AMISIM_VERSION
#define AMISIM_VERSION "unknown"
#endif

namespace amisim {

namespace {

namespace fs = std::filesystem;

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Everything the options hold, as given.
struct Options {
    std::string out, kit = AMISIM_DEFAULT_KIT_DIR, mode = "both", ports = "auto";
    std::string bits, ignoreBits, blockBits, samplesPerBit, prbs, seed, jobs;
    std::string bitRate, ber, amplitude, lossDb, skinFraction;
    std::string s4p, corner = "typ", saveWaveform, waveformBits, mask;
    KitFiles given;
    std::vector<std::string> tx, rx, sweeps;
    bool noTdJitter = false, strict = false, listParams = false, showMessages = false,
         quiet = false, noMarginWalk = false, idealEnds = false;
};

std::string trim(const std::string& s) {
    const auto a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

// A count: digits, or a whole number in exponent form (1e5).
std::uint64_t parseCount(const std::string& option, const std::string& text, std::uint64_t lo,
                         std::uint64_t hi) {
    const std::string t = trim(text);
    const std::string range = " from " + std::to_string(lo) + " to " + std::to_string(hi);
    char* end = nullptr;
    errno = 0;
    const long double v = t.empty() ? 0 : std::strtold(t.c_str(), &end);
    if (t.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(static_cast<double>(v)) ||
        v != std::floor(v) || v < static_cast<long double>(lo) || v > static_cast<long double>(hi))
        throw UsageError(option + ": '" + text + "' is not a whole number" + range);
    return static_cast<std::uint64_t>(v);
}

double parseReal(const std::string& option, const std::string& text, double lo, double hi,
                 const std::string& what) {
    const std::string t = trim(text);
    char* end = nullptr;
    errno = 0;
    const double v = t.empty() ? 0 : std::strtod(t.c_str(), &end);
    if (t.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(v))
        throw UsageError(option + ": '" + text + "' is not a number");
    if (!(v >= lo && v <= hi)) throw UsageError(option + ": " + text + " is outside " + what);
    return v;
}

std::string numberText(double v) {
    std::ostringstream os;
    os << v;
    return os.str();
}

void requireFile(const std::string& option, const std::string& path, const char* kind) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (!fs::exists(st))
        throw UsageError(option + ": the " + kind + " '" + path + "' does not exist");
    if (fs::is_directory(st))
        throw UsageError(option + ": '" + path + "' is a folder, not a " + kind);
    std::ifstream probe(path, std::ios::binary);
    if (!probe)
        throw UsageError(option + ": cannot read the " + kind + " '" + path +
                         "': " + std::strerror(errno));
}

// CLI11's texts, in amisim's words where they are unclear.
std::string usageText(const CLI::ParseError& e) {
    const std::string what = e.what();
    if (e.get_name() == "ArgumentMismatch" && what.find("At Most 1") != std::string::npos)
        return what.substr(0, what.find(':')) + " is given more than once; give it once";
    return what;
}

void addOptions(CLI::App& app, Options& o) {
    app.add_option("--out", o.out,
                   "Folder for report.json, report.html, the pictures and CSV tables (created)");
    app.add_option("--kit", o.kit, "Kit folder: libraries, .ami/.ibs files, database")
        ->capture_default_str();
    app.add_option("--mode", o.mode, "stat, td or both")->capture_default_str();
    app.add_option("--tx", o.tx, "Transmitter parameter override NAME=VALUE (nested: a.b=VALUE)");
    app.add_option("--rx", o.rx, "Receiver parameter override NAME=VALUE (nested: dfe.mode=1)");
    app.add_option("--sweep", o.sweeps,
                   "Sweep a parameter in statistical mode: [tx.|rx.]NAME=A:B[:STEP] or "
                   "NAME=V1,V2,...; repeat for a grid");
    app.add_option("--jobs", o.jobs, "Sweep points run at once, each in its own process (1..64)");
    app.add_option("--bits", o.bits, "Bits simulated in time-domain mode (default 100000)");
    app.add_option("--ignore-bits", o.ignoreBits,
                   "Bits left out of the time-domain eye (default: the models' Ignore_Bits, else "
                   "1000; at most half the bits)");
    app.add_option("--bit-rate", o.bitRate, "Bit rate in bit/s (default 10.3125e9)");
    app.add_option("--samples-per-bit", o.samplesPerBit, "Samples per bit (default 32)");
    app.add_option("--loss-db", o.lossDb, "Built-in line: loss in dB at Nyquist (default 20)");
    app.add_option(
        "--skin-fraction", o.skinFraction,
        "Built-in line: share of the Nyquist loss due to the skin effect (default 0.35)");
    app.add_option("--s4p", o.s4p,
                   "Touchstone file (1.x or 2.0) used as the channel: four ports, or more with "
                   "--ports naming the through pair");
    app.add_option("--ports", o.ports,
                   "Which single-ended ports form the channel's through pair, written "
                   "INPUT_PAIR/OUTPUT_PAIR with each pair P-N: 1-2/3-4 (input on ports 1 and "
                   "2, lines 1->3 and 2->4), 1-3/2-4 (input on 1 and 3, lines 1->2 and 3->4), "
                   "any a-b/c-d for a file of more ports, or auto (a four-port's numbering "
                   "found from its low-frequency data)")
        ->capture_default_str();
    app.add_option("--corner", o.corner,
                   "Corner of the analog ends from the kit's .ibs: typ, min or max")
        ->capture_default_str();
    app.add_flag("--ideal-ends", o.idealEnds,
                 "Leave the buffers and packages out: the channel between matched ideal ends");
    app.add_option("--mask", o.mask,
                   "Hexagonal eye mask HEIGHT_MV,WIDTH_UI checked against both eyes: HEIGHT "
                   "tall over the middle half of its width, its tips at +-WIDTH/2 on the "
                   "threshold, centred in the open eye at the sampling point");
    app.add_option("--save-waveform", o.saveWaveform,
                   "Write the receiver's time-domain output (and its clock times) as CSV to FILE");
    app.add_option("--waveform-bits", o.waveformBits,
                   "Bits of --save-waveform, FROM:TO with TO excluded (default: the first 1000 "
                   "after the ignored bits)");
    app.add_option("--prbs", o.prbs, "PRBS order: 7, 15, 23 or 31 (default 31)");
    app.add_option("--ber", o.ber, "Target bit-error ratio of the statistical eye (default 1e-12)");
    app.add_option("--amplitude", o.amplitude, "Stimulus levels +-amplitude, volts (default 0.5)");
    app.add_option("--block-bits", o.blockBits, "Bits per AMI_GetWave block (default 1024)");
    app.add_option("--seed", o.seed, "Seed of the time-domain jitter (default 1)");
    app.add_option("--tx-lib", o.given.txLibrary, "Transmitter library (default: from the kit)");
    app.add_option("--rx-lib", o.given.rxLibrary, "Receiver library (default: from the kit)");
    app.add_option("--tx-ami", o.given.txAmi, "Transmitter .ami file (default: from the kit)");
    app.add_option("--rx-ami", o.given.rxAmi, "Receiver .ami file (default: from the kit)");
    app.add_flag("--no-td-jitter", o.noTdJitter,
                 "Leave the models' jitter out of the time-domain simulation");
    app.add_flag("--strict", o.strict,
                 "Exit with status 1 when a model reports any warning or the time-domain eye "
                 "has not settled");
    app.add_flag("--no-margin-walk", o.noMarginWalk,
                 "Skip the runs that explain the gap between the statistical and the "
                 "time-domain eye (they take about twice the time-domain run)");
    app.add_flag("--list-params", o.listParams,
                 "Print each model's parameters (types, ranges, defaults, meanings) and exit");
    app.add_flag("--show-messages", o.showMessages,
                 "Print both models' parameter strings, messages and output parameters");
    app.add_flag("--quiet", o.quiet, "No progress on standard error");
}

KitFiles resolveKit(Options& o) {
    const bool allGiven = !o.given.txLibrary.empty() && !o.given.rxLibrary.empty() &&
                          !o.given.txAmi.empty() && !o.given.rxAmi.empty();
    std::error_code ec;
    if (!fs::is_directory(o.kit, ec)) {
        if (!allGiven) throw UsageError("--kit: the kit folder '" + o.kit + "' does not exist");
    } else {
        // the models get the folder in their parameter string: it must not depend on their cwd
        o.kit = fs::absolute(o.kit).lexically_normal().string();
    }
    if (!o.given.txLibrary.empty()) requireFile("--tx-lib", o.given.txLibrary, "library");
    if (!o.given.rxLibrary.empty()) requireFile("--rx-lib", o.given.rxLibrary, "library");
    if (!o.given.txAmi.empty()) requireFile("--tx-ami", o.given.txAmi, ".ami file");
    if (!o.given.rxAmi.empty()) requireFile("--rx-ami", o.given.rxAmi, ".ami file");
    KitFiles k = locateKit(o.kit, o.given);
    requireFile(o.given.txLibrary.empty() ? "--kit" : "--tx-lib", k.txLibrary,
                "transmitter library");
    requireFile(o.given.rxLibrary.empty() ? "--kit" : "--rx-lib", k.rxLibrary, "receiver library");
    requireFile(o.given.txAmi.empty() ? "--kit" : "--tx-ami", k.txAmi, "transmitter .ami file");
    requireFile(o.given.rxAmi.empty() ? "--kit" : "--rx-ami", k.rxAmi, "receiver .ami file");
    return k;
}

LinkConfig makeConfig(const CLI::App& app, Options& o) {
    using L = LinkLimits;
    LinkConfig cfg;
    cfg.kitDir = o.kit;
    if (o.mode != "stat" && o.mode != "td" && o.mode != "both")
        throw UsageError("--mode: '" + o.mode + "' is not stat, td or both");
    cfg.runStat = o.mode != "td";
    cfg.runTd = o.mode != "stat";
    const bool line = o.s4p.empty();
    if (!line && app.count("--loss-db"))
        throw UsageError("--loss-db describes the built-in line; it has no effect with --s4p");
    if (!line && app.count("--skin-fraction"))
        throw UsageError(
            "--skin-fraction describes the built-in line; it has no effect with --s4p");
    if (line && app.count("--ports"))
        throw UsageError("--ports gives the port numbering of a --s4p file; there is none");
    if (!o.bits.empty()) cfg.bits = parseCount("--bits", o.bits, L::minBits, L::maxBits);
    if (!o.ignoreBits.empty())
        cfg.ignoreBits = parseCount("--ignore-bits", o.ignoreBits, 0, L::maxBits / 2);
    if (!o.blockBits.empty())
        cfg.blockBits = static_cast<int>(parseCount("--block-bits", o.blockBits, 1, 1u << 20));
    if (!o.samplesPerBit.empty())
        cfg.samplesPerBit = static_cast<int>(parseCount("--samples-per-bit", o.samplesPerBit,
                                                        L::minSamplesPerBit, L::maxSamplesPerBit));
    if (!o.prbs.empty()) {
        cfg.prbsOrder = static_cast<int>(parseCount("--prbs", o.prbs, 7, 31));
        if (cfg.prbsOrder != 7 && cfg.prbsOrder != 15 && cfg.prbsOrder != 23 && cfg.prbsOrder != 31)
            throw UsageError("--prbs: " + o.prbs + " is not 7, 15, 23 or 31");
    }
    if (!o.seed.empty()) cfg.seed = parseCount("--seed", o.seed, 0, std::uint64_t{1} << 62);
    if (!o.bitRate.empty())
        cfg.bitRate =
            parseReal("--bit-rate", o.bitRate, L::minBitRate, L::maxBitRate,
                      "the " + numberText(L::minBitRate) + " .. " + numberText(L::maxBitRate) +
                          " bit/s amisim simulates (the transmitter model's legal range "
                          "is 0.611 .. 17.4 Gb/s)");
    if (!o.ber.empty())
        cfg.ber = parseReal("--ber", o.ber, L::minBer, L::maxBer,
                            numberText(L::minBer) + " .. " + numberText(L::maxBer));
    if (!o.amplitude.empty()) {
        cfg.amplitude = parseReal("--amplitude", o.amplitude, 0, L::maxAmplitude,
                                  "0 .. " + numberText(L::maxAmplitude) + " V");
        if (!(cfg.amplitude > 0)) throw UsageError("--amplitude: the amplitude must be above 0 V");
    }
    if (!o.lossDb.empty())
        cfg.lossDb = parseReal("--loss-db", o.lossDb, 0, L::maxLossDb,
                               "0 .. " + numberText(L::maxLossDb) + " dB");
    if (!o.skinFraction.empty())
        cfg.skinFraction = parseReal("--skin-fraction", o.skinFraction, 0, 1, "0 .. 1");
    if (!line) {
        requireFile("--s4p", o.s4p, "Touchstone file");
        cfg.s4pFile = o.s4p;
        if (o.ports != "auto") {
            try {
                cfg.ports = parsePortOrder(o.ports);
            } catch (const TouchstoneError&) {
                try {
                    cfg.throughPorts = parseThroughPorts(o.ports);
                } catch (const TouchstoneError&) {
                    throw UsageError("--ports: '" + o.ports +
                                     "' is not auto, 1-2/3-4, 1-3/2-4 or a-b/c-d");
                }
            }
        }
    }
    if (const auto c = parseIbisCorner(o.corner))
        cfg.corner = *c;
    else
        throw UsageError("--corner: '" + o.corner + "' is not typ, min or max");
    if (o.idealEnds && app.count("--corner"))
        throw UsageError("--corner selects the analog ends; --ideal-ends leaves them out");
    cfg.idealEnds = o.idealEnds;
    if (!o.waveformBits.empty()) {
        if (o.saveWaveform.empty())
            throw UsageError("--waveform-bits chooses the bits of --save-waveform; there is none");
        try {
            cfg.waveformBits = parseWaveformRange(o.waveformBits);
        } catch (const std::invalid_argument& e) {
            throw UsageError(e.what());
        }
    }
    if (!o.saveWaveform.empty() && !cfg.runTd)
        throw UsageError(
            "--save-waveform writes the time-domain output: it needs --mode td or both");
    cfg.waveformFile = o.saveWaveform;
    cfg.tdJitter = !o.noTdJitter;
    cfg.marginWalk = !o.noMarginWalk;
    cfg.quiet = o.quiet;
    for (const std::string& s : o.tx) cfg.txOverrides.push_back(parseOverride(s));
    for (const std::string& s : o.rx) cfg.rxOverrides.push_back(parseOverride(s));
    return cfg;
}

}  // namespace

int runCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err) {
    CLI::App app{
        "amisim " AMISIM_VERSION
        " - IBIS-AMI channel simulator: drives the kit's transmitter "
        "and receiver models around a lossy line or a Touchstone channel and reports the eye."};
    app.set_version_flag("--version", std::string("amisim ") + AMISIM_VERSION);
    Options o;
    addOptions(app, o);
    std::vector<std::string> commandLine(argv, argv + argc);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return 0;
    } catch (const CLI::CallForAllHelp&) {
        out << app.help("", CLI::AppFormatMode::All);
        return 0;
    } catch (const CLI::CallForVersion& e) {
        out << e.what() << "\n";
        return 0;
    } catch (const CLI::ParseError& e) {
        err << "amisim: error: " << usageText(e) << " (amisim --help lists the options)\n";
        return 1;
    }

    try {
        if (o.listParams) {
            const KitFiles k = resolveKit(o);
            listParameters(out, loadModelFile(k.txAmi), "transmitter", k.txAmi);
            listParameters(out, loadModelFile(k.rxAmi), "receiver", k.rxAmi);
            return 0;
        }
        if (o.out.empty())
            throw UsageError(
                "--out DIR is required: the folder for the report and pictures "
                "(amisim --help lists the options)");
        LinkConfig cfg = makeConfig(app, o);
        std::optional<EyeMask> mask;
        if (!o.mask.empty()) {
            try {
                mask = parseEyeMask(o.mask);
            } catch (const std::invalid_argument& e) {
                throw UsageError(e.what());
            }
        }
        cfg.files = resolveKit(o);
        cfg.kitDir = o.kit;  // made absolute: the models get it in their parameter strings
        validateConfig(cfg);
        std::vector<SweepAxis> axes;
        if (!o.sweeps.empty()) {
            const AmiModelFile txFile = loadModelFile(cfg.files.txAmi);
            const AmiModelFile rxFile = loadModelFile(cfg.files.rxAmi);
            for (const std::string& s : o.sweeps) axes.push_back(parseSweep(s, txFile, rxFile));
            std::size_t points = 1;
            for (const SweepAxis& a : axes) {
                points *= a.values.size();
                if (points > kMaxSweepPoints)
                    throw UsageError("--sweep: the grid has more than " +
                                     std::to_string(kMaxSweepPoints) + " points");
            }
        } else if (!o.jobs.empty()) {
            throw UsageError("--jobs runs sweep points in parallel; there is no --sweep");
        }
        const int jobs = o.jobs.empty() ? 1 : static_cast<int>(parseCount("--jobs", o.jobs, 1, 64));
        prepareOutputFolder(o.out);

        std::optional<SweepResult> sweep;
        if (!axes.empty()) {
            LinkConfig pointCfg = cfg;
            pointCfg.waveformFile.clear();  // only the full run at the best point writes it
            sweep = runSweep(pointCfg, axes, jobs);
            // the full run, in the modes asked for, at the best point
            if (sweep->best) cfg = withPointValues(cfg, axes, sweep->points[*sweep->best].values);
        }
        LinkResult res = [&] {
            LinkResult r = runLink(cfg);
            measureEndsEyeCost(cfg, r);
            if (cfg.marginWalk && r.stat && r.td) r.marginWalk = walkMargin(cfg, r);
            return r;
        }();
        if (mask) checkLinkEyeMask(*mask, res);

        removeOwnedFiles(o.out);
        const SweepResult* sw = sweep ? &*sweep : nullptr;
        const std::vector<std::string> pictures = writePictures(o.out, cfg, res, sw);
        releasePlotResources();
        const std::vector<std::string> csv = writeCsvFiles(o.out, cfg, res, sw);
        RunInfo info{AMISIM_VERSION, commandLine, sw};
        const nlohmann::json report = makeReport(cfg, res, info, pictures, csv);
        writeTextFile(o.out, outfile::kReportJson, report.dump(2) + "\n");
        writeTextFile(o.out, outfile::kReportHtml, htmlReport(report, o.out));
        printSummary(out, cfg, res, o.showMessages, sw);
        out << "  report: " << (fs::path(o.out) / outfile::kReportJson).string() << ", "
            << (fs::path(o.out) / outfile::kReportHtml).string() << "\n";
        out.flush();
        if (o.strict && res.settling && !res.settling->settled) {
            err << "amisim: error: --strict: the time-domain eye has not settled (see the "
                   "warning above)\n";
            return 1;
        }
        const std::size_t modelWarningCount = modelWarnings(res).size();
        if (o.strict && modelWarningCount > 0) {
            err << "amisim: error: --strict: the models reported " << modelWarningCount
                << " warning" << (modelWarningCount == 1 ? "" : "s") << " (listed above)\n";
            return 1;
        }
    } catch (const std::bad_alloc&) {
        err << "amisim: error: out of memory: lower --bits, --samples-per-bit or --block-bits\n";
        return 1;
    } catch (const std::exception& e) {
        err << "amisim: error: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

}  // namespace amisim
