#include "amisim/command_line.hpp"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "amisim/run/analog_link.hpp"
#include "amisim/run/corner_choice.hpp"
#include "amisim/run/ends_eye_cost.hpp"
#include "amisim/run/link_eye_mask.hpp"
#include "amisim/run/link_sim.hpp"
#include "amisim/report/output_folder.hpp"
#include "amisim/host/param_listing.hpp"
#include "amisim/report/plots.hpp"
#include "amisim/report/report.hpp"
#include "amisim/run/optimizer.hpp"
#include "amisim/run/sweep.hpp"
#include "amisim/run/sweep_checks.hpp"
#include "amisim/run/sweep_plan.hpp"

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
    std::string plan, merge, objective = "area";
    std::vector<std::string> runPoint;  // DIR K
    std::string optimize;
    std::vector<std::string> optimizeRanges;
    bool noTdJitter = false, strict = false, listParams = false, showMessages = false,
         quiet = false, noMarginWalk = false, idealEnds = false;
};

std::string trim(const std::string& s) {
    const auto a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(" \t\r\n") - a + 1);
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

std::string readTextFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
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
    app.add_option("--objective", o.objective,
                   "What ranks the sweep points: area (eye height times width, as the "
                   "receiver's adaptation ranks), height or width")
        ->capture_default_str();
    app.add_option("--plan", o.plan,
                   "Write the sweep as a plan in DIR, one job per point, for a job engine; with "
                   "--jobs, also run its points here (done points are skipped) and merge");
    app.add_option("--run-point", o.runPoint,
                   "Compute point K of the plan in DIR into DIR/points/K (a job of a plan)")
        ->expected(2)
        ->type_name("DIR K");
    app.add_option("--merge", o.merge,
                   "Report the sweep of the plan in DIR from the points done; exits 1 while any "
                   "is missing or failed");
    app.add_option("--optimize", o.optimize,
                   "Search the transmitter's integer settings tx.A,tx.B,... (e.g. "
                   "tx.tap1,tx.ptap1) for the best statistical figure (--objective) with the "
                   "receiver adapting: a coordinate search from the defaults over the .ami "
                   "ranges, far fewer points than the grid; the link is then run at the best");
    app.add_option("--optimize-range", o.optimizeRanges,
                   "Limit a setting of --optimize to the codes NAME=A:B; repeat for each");
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
                   "Process corner of the link: typ, min (slow) or max (fast). The analog ends "
                   "take that column of the kit's .ibs and the models' corner parameters follow "
                   "(FF for max, SS for min). Without it the ends follow the models: the "
                   "transmitter's corner (--tx corner=N), else the receiver's, else typ");
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
                 "Exit with status 1 on any warning: amisim's (an unsettled eye among them), a "
                 "model's, or a failed sweep point");
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
    if (app.count("--corner")) {
        if (const auto c = parseIbisCorner(o.corner))
            cfg.corner = *c;
        else
            throw UsageError("--corner: '" + o.corner + "' is not typ, min or max");
    }
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

// What a run works from once its options are checked.
struct RunSetup {
    LinkConfig cfg;
    std::vector<SweepAxis> axes;
    std::vector<std::string> sweepWarnings;  // about the axes themselves
    std::vector<SweepAxis> optimizeAxes;     // the settings --optimize searches
    std::vector<std::size_t> optimizeStart;  // code indices where the search starts
    SweepObjective objective = SweepObjective::Area;
    int jobs = 1;
    std::optional<EyeMask> mask;
};

RunSetup setUpRun(const CLI::App& app, Options& o) {
    RunSetup s;
    s.cfg = makeConfig(app, o);
    if (!o.mask.empty()) {
        try {
            s.mask = parseEyeMask(o.mask);
        } catch (const std::invalid_argument& e) {
            throw UsageError(e.what());
        }
    }
    s.cfg.files = resolveKit(o);
    s.cfg.kitDir = o.kit;  // made absolute: the models get it in their parameter strings
    validateConfig(s.cfg);
    try {
        s.objective = parseObjective(o.objective);
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what());
    }
    if (!o.optimize.empty()) {
        if (!o.sweeps.empty())
            throw UsageError(
                "--optimize searches the settings itself; it does not combine with "
                "--sweep");
        if (!o.plan.empty())
            throw UsageError(
                "--plan writes a sweep as jobs; --optimize chooses its points as "
                "it goes and runs them here (--jobs N runs each step's at once)");
        const AmiModelFile txFile = loadModelFile(s.cfg.files.txAmi);
        const AmiModelFile rxFile = loadModelFile(s.cfg.files.rxAmi);
        try {
            s.optimizeAxes = parseOptimizeAxes(o.optimize, o.optimizeRanges, txFile, rxFile);
        } catch (const std::invalid_argument& e) {
            throw UsageError(e.what());
        }
        s.optimizeStart = optimizeStart(s.optimizeAxes, s.cfg, txFile);
    } else if (!o.optimizeRanges.empty()) {
        throw UsageError("--optimize-range limits a setting of --optimize; there is no --optimize");
    }
    if (!o.sweeps.empty()) {
        const AmiModelFile txFile = loadModelFile(s.cfg.files.txAmi);
        const AmiModelFile rxFile = loadModelFile(s.cfg.files.rxAmi);
        try {
            for (const std::string& text : o.sweeps)
                s.axes.push_back(parseSweep(text, txFile, rxFile));
            checkDistinctAxes(s.axes);
        } catch (const std::invalid_argument& e) {
            throw UsageError(e.what());
        }
        std::size_t points = 1;
        for (const SweepAxis& a : s.axes) {
            points *= a.values.size();
            if (points > kMaxSweepPoints)
                throw UsageError("--sweep: the grid has more than " +
                                 std::to_string(kMaxSweepPoints) + " points");
        }
        try {
            s.sweepWarnings = checkOverriddenAxes(s.axes, s.cfg, rxFile);
        } catch (const std::invalid_argument& e) {
            throw UsageError(e.what());
        }
    } else if (!o.jobs.empty() && o.optimize.empty()) {
        throw UsageError("--jobs runs sweep points in parallel; there is no --sweep");
    } else if (!o.plan.empty()) {
        throw UsageError("--plan writes a sweep as jobs; there is no --sweep");
    }
    try {
        settleCorner(s.cfg, s.axes);
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what());
    }
    s.jobs = o.jobs.empty() ? 1 : static_cast<int>(parseCount("--jobs", o.jobs, 1, 64));
    return s;
}

// Parses a stored command line (a plan's) into `o`.
void parseStored(CLI::App& app, const std::vector<std::string>& args) {
    std::vector<const char*> argv{"amisim"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        throw std::runtime_error("the plan's command line no longer parses: " + usageText(e));
    }
}

// The run's report and summary: the full link (in the modes asked for) at the best sweep point
// when there is one. Returns the exit status.
int finishRun(const Options& o, RunSetup& s, const SweepResult* sw,
              const std::vector<std::string>& commandLine, std::ostream& out, std::ostream& err,
              const OptimizeResult* opt = nullptr) {
    LinkConfig cfg = s.cfg;
    if (sw && sw->best) cfg = withPointValues(cfg, s.axes, sw->points[*sw->best].values);
    if (opt && opt->best) cfg = withPointValues(cfg, opt->axes, opt->path[*opt->best].point.values);
    LinkResult res = runLink(cfg);
    measureEndsEyeCost(cfg, res);
    if (cfg.marginWalk && res.stat && res.td) res.marginWalk = walkMargin(cfg, res);
    if (s.mask) checkLinkEyeMask(*s.mask, res);

    removeOwnedFiles(o.out);
    const std::vector<std::string> pictures = writePictures(o.out, cfg, res, sw);
    releasePlotResources();
    const std::vector<std::string> csv = writeCsvFiles(o.out, cfg, res, sw);
    RunInfo info{AMISIM_VERSION, commandLine, sw, opt};
    const nlohmann::json report = makeReport(cfg, res, info, pictures, csv);
    writeTextFile(o.out, outfile::kReportJson, report.dump(2) + "\n");
    writeTextFile(o.out, outfile::kReportHtml, htmlReport(report, o.out));
    printSummary(out, cfg, res, o.showMessages, sw, opt);
    out << "  report: " << (fs::path(o.out) / outfile::kReportJson).string() << ", "
        << (fs::path(o.out) / outfile::kReportHtml).string() << "\n";
    out.flush();
    if (o.strict && res.settling && !res.settling->settled) {
        err << "amisim: error: --strict: the time-domain eye has not settled (see the "
               "warning above)\n";
        return 1;
    }
    const std::size_t warnings = report.value("warnings", nlohmann::json::array()).size();
    if (o.strict && warnings > 0) {
        err << "amisim: error: --strict: the run gave " << warnings << " warning"
            << (warnings == 1 ? "" : "s") << " (listed above)\n";
        return 1;
    }
    return 0;
}

std::vector<std::string> planCommandLine(int argc, char** argv) {
    // the plan's own options are left out: its jobs and merge re-read the rest
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--plan" || a == "--jobs") {
            ++i;
            continue;
        }
        if (a.rfind("--plan=", 0) == 0 || a.rfind("--jobs=", 0) == 0) continue;
        args.push_back(a);
    }
    return args;
}

std::string currentDirectory() {
    std::error_code ec;
    const fs::path p = fs::current_path(ec);
    return ec ? std::string() : p.string();
}

SweepPlan makePlan(const Options& o, const RunSetup& s, int argc, char** argv) {
    SweepPlan plan;
    plan.version = AMISIM_VERSION;
    plan.workingDirectory = currentDirectory();
    plan.commandLine = planCommandLine(argc, argv);
    plan.axes = s.axes;
    plan.points = sweepGrid(s.axes).size();
    plan.outDir = fs::absolute(o.out).lexically_normal().string();
    plan.kitDir = s.cfg.kitDir;
    for (auto [to, from] : {std::pair{&plan.files.txLibrary, &s.cfg.files.txLibrary},
                            {&plan.files.rxLibrary, &s.cfg.files.rxLibrary},
                            {&plan.files.txAmi, &s.cfg.files.txAmi},
                            {&plan.files.rxAmi, &s.cfg.files.rxAmi}})
        *to = fs::absolute(*from).lexically_normal().string();
    return plan;
}

// A plan's sweep, set up again from its stored command line in its working directory.
struct PlannedRun {
    SweepPlan plan;
    Options o;
    CLI::App app;
    RunSetup setup;
};

void setUpPlanned(PlannedRun& r, const std::string& dir) {
    r.plan = readPlan(dir);
    if (r.plan.version != AMISIM_VERSION)
        throw std::runtime_error(
            "the plan in '" + dir + "' was written by amisim " + r.plan.version +
            "; this is amisim " AMISIM_VERSION ": run all its points with one version");
    std::error_code ec;
    if (!r.plan.workingDirectory.empty()) fs::current_path(r.plan.workingDirectory, ec);
    if (ec)
        throw std::runtime_error("cannot enter the plan's working directory '" +
                                 r.plan.workingDirectory + "': " + ec.message());
    addOptions(r.app, r.o);
    parseStored(r.app, r.plan.commandLine);
    r.setup = setUpRun(r.app, r.o);
    bool same = r.setup.axes.size() == r.plan.axes.size();
    for (std::size_t i = 0; same && i < r.plan.axes.size(); ++i)
        same = r.setup.axes[i].name() == r.plan.axes[i].name() &&
               r.setup.axes[i].values == r.plan.axes[i].values;
    if (!same)
        throw std::runtime_error("the plan in '" + dir +
                                 "' no longer matches its models' parameters: write it again");
}

std::string pointLabel(const std::vector<SweepAxis>& axes, const std::vector<std::string>& v) {
    std::string s;
    for (std::size_t a = 0; a < axes.size() && a < v.size(); ++a)
        s += (a ? " " : "") + axes[a].name() + "=" + v[a];
    return s;
}

int runPointCommand(const std::string& dir, const std::string& kText, std::ostream& out) {
    PlannedRun r;
    std::size_t k = 0;
    try {
        r.plan = readPlan(dir);
        k = parseCount("--run-point", kText, 0, r.plan.points ? r.plan.points - 1 : 0);
        if (r.plan.points == 0) throw UsageError("--run-point: the plan has no points");
    } catch (const UsageError& e) {
        throw UsageError(std::string(e.what()) + " (the plan in '" + dir + "' has points 0 to " +
                         std::to_string(r.plan.points ? r.plan.points - 1 : 0) + ")");
    }
    const std::string absDir = fs::absolute(dir).string();
    if (pointDone(absDir, k)) {
        const std::string status =
            readTextFile(fs::path(pointFolder(absDir, k)) / kPointStatusFile);
        out << "amisim: sweep point " << k << " is done already (remove " << pointFolder(absDir, k)
            << " to run it again)\n";
        return status.rfind('0', 0) == 0 ? 0 : 1;
    }
    try {
        setUpPlanned(r, absDir);
    } catch (const std::exception& e) {
        // the point stays to do; its folder says why this job could not run it
        std::error_code ec;
        fs::create_directories(pointFolder(absDir, k), ec);
        std::ofstream(fs::path(pointFolder(absDir, k)) / "error") << e.what() << "\n";
        throw;
    }
    const auto grid = sweepGrid(r.setup.axes);
    const PreparedChannel channel = prepareSweepChannel(r.setup.cfg);
    const SweepPoint p = runSweepPointIsolated(r.setup.cfg, r.setup.axes, grid[k], channel);
    savePoint(absDir, k, p, r.setup.axes);
    out << "amisim: sweep point " << k << " of " << grid.size() << " ("
        << pointLabel(r.setup.axes, grid[k]) << "): ";
    if (p.ok)
        out << "eye height " << p.eyeHeight * 1e3 << " mV, width " << p.eyeWidth << " UI";
    else
        out << "failed: " << p.error;
    out << ", " << p.seconds << " s\n";
    return p.ok ? 0 : 1;
}

// Merges the points of the plan in `dir` that are done into the sweep's report.
int mergeCommand(const std::string& dir, const std::vector<std::string>& commandLine,
                 std::ostream& out, std::ostream& err) {
    const auto start = std::chrono::steady_clock::now();
    PlannedRun r;
    const std::string absDir = fs::absolute(dir).string();
    setUpPlanned(r, absDir);
    prepareOutputFolder(r.o.out);
    SweepResult sw;
    sw.axes = r.setup.axes;
    sw.objective = r.setup.objective;
    sw.warnings = r.setup.sweepWarnings;
    sw.jobs = 0;
    const auto grid = sweepGrid(sw.axes);
    std::vector<std::string> problems;
    for (std::size_t k = 0; k < grid.size(); ++k) {
        std::optional<SweepPoint> p = loadPoint(absDir, k, sw.axes, grid[k]);
        if (!p) {
            SweepPoint missing;
            missing.values = grid[k];
            sw.points.push_back(missing);
            const fs::path why = fs::path(pointFolder(absDir, k)) / "error";
            std::error_code ec;
            problems.push_back("point " + std::to_string(k) + " (" + pointLabel(sw.axes, grid[k]) +
                               "): missing" +
                               (fs::exists(why, ec) ? ": " + trim(readTextFile(why)) : ""));
            continue;
        }
        if (!p->ok)
            problems.push_back("point " + std::to_string(k) + " (" + pointLabel(sw.axes, grid[k]) +
                               "): failed: " + p->error);
        sw.seconds += p->seconds;
        sw.points.push_back(*p);
    }
    rankSweep(sw);
    const int status = finishRun(r.o, r.setup, &sw, commandLine, out, err);
    out << "  merged " << grid.size() - problems.size() << " of " << grid.size()
        << " sweep points in "
        << std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()
        << " s\n";
    if (!problems.empty()) {
        err << "amisim: error: " << problems.size() << " of " << grid.size()
            << " sweep points are missing or failed:\n";
        for (const std::string& p : problems) err << "  " << p << "\n";
        return 1;
    }
    return status;
}

// Writes the plan; with --jobs also runs its points that are not done, then merges.
int planCommand(const Options& o, const RunSetup& s, int argc, char** argv,
                const std::vector<std::string>& commandLine, std::ostream& out, std::ostream& err) {
    const SweepPlan plan = makePlan(o, s, argc, argv);
    writePlan(o.plan, plan);
    const std::string dir = fs::absolute(o.plan).lexically_normal().string();
    if (o.jobs.empty()) {
        out << "amisim: wrote the plan of " << plan.points << " sweep points to " << dir
            << "\n  run its points with any of:\n"
            << "    amisim --sweep ... --plan " << dir << " --jobs N\n"
            << "    parallel amisim --run-point " << dir << " {} ::: $(seq 0 " << plan.points - 1
            << ")\n"
            << "    sbatch --array=0-" << plan.points - 1 << " scripts/sweep_slurm_array.sh " << dir
            << "\n  then: amisim --merge " << dir << "\n";
        return 0;
    }
    std::vector<std::size_t> todo;
    for (std::size_t k = 0; k < plan.points; ++k)
        if (!pointDone(dir, k)) todo.push_back(k);
    if (todo.size() < plan.points && !o.quiet)
        err << "amisim: " << plan.points - todo.size() << " of " << plan.points
            << " sweep points are done already; running the other " << todo.size() << "\n";
    if (!todo.empty()) {
        const PreparedChannel channel = prepareSweepChannel(s.cfg);
        const int jobs =
            static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(s.jobs), todo.size()));
        runSweepPoints(s.cfg, s.axes, channel, todo, jobs,
                       [&](std::size_t k, const SweepPoint& p) { savePoint(dir, k, p, s.axes); });
    }
    return mergeCommand(dir, commandLine, out, err);
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
        if (!o.runPoint.empty() || !o.merge.empty()) {
            if (argc != (o.runPoint.empty() ? 3 : 4))
                throw UsageError(
                    std::string(o.runPoint.empty() ? "--merge DIR" : "--run-point DIR K") +
                    " takes no other options: the plan holds the sweep's");
            if (!o.runPoint.empty()) return runPointCommand(o.runPoint[0], o.runPoint[1], out);
            return mergeCommand(o.merge, commandLine, out, err);
        }
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
        RunSetup s = setUpRun(app, o);
        prepareOutputFolder(o.out);
        if (!o.plan.empty()) return planCommand(o, s, argc, argv, commandLine, out, err);

        std::optional<SweepResult> sweep;
        if (!s.axes.empty()) {
            LinkConfig pointCfg = s.cfg;
            pointCfg.waveformFile.clear();  // only the full run at the best point writes it
            sweep = runSweep(pointCfg, s.axes, s.jobs, s.objective);
            sweep->warnings.insert(sweep->warnings.begin(), s.sweepWarnings.begin(),
                                   s.sweepWarnings.end());
        }
        std::optional<OptimizeResult> optimized;
        if (!s.optimizeAxes.empty()) {
            LinkConfig pointCfg = s.cfg;
            pointCfg.waveformFile.clear();  // only the full run at the best point writes it
            optimized = runOptimize(pointCfg, s.optimizeAxes, s.optimizeStart, s.jobs, s.objective);
        }
        return finishRun(o, s, sweep ? &*sweep : nullptr, commandLine, out, err,
                         optimized ? &*optimized : nullptr);
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
