// amisim: runs a transmitter and a receiver IBIS-AMI model around a channel and reports the eye.
#include <gsl/gsl_errno.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "amisim/link_sim.hpp"
#include "amisim/plots.hpp"
#include "amisim/report.hpp"

#ifndef AMISIM_DEFAULT_KIT_DIR
#define AMISIM_DEFAULT_KIT_DIR "build/kit"
#endif

int main(int argc, char** argv) {
    gsl_set_error_handler_off();
    CLI::App app{
        "amisim - IBIS-AMI channel simulator: drives the kit's transmitter and receiver "
        "models around a lossy line or a Touchstone channel and reports the eye."};
    amisim::LinkConfig cfg;
    cfg.kitDir = AMISIM_DEFAULT_KIT_DIR;
    std::string outDir, mode = "both", ports = "1-2/3-4";
    std::vector<std::string> txOver, rxOver;
    std::uint64_t ignoreBits = 0;
    bool showMessages = false;
    amisim::KitFiles given;

    app.add_option("--out", outDir, "Directory for report.json and the pictures (created)")
        ->required();
    app.add_option("--kit", cfg.kitDir, "Kit directory: libraries, .ami/.ibs files, database")
        ->capture_default_str();
    app.add_option("--mode", mode, "stat, td or both")
        ->check(CLI::IsMember({"stat", "td", "both"}))
        ->capture_default_str();
    app.add_option("--bits", cfg.bits, "Bits simulated in time-domain mode")->capture_default_str();
    app.add_option("--ignore-bits", ignoreBits,
                   "Bits left out of the time-domain eye (default: the models' Ignore_Bits, else "
                   "1000; at most half the bits)");
    app.add_option("--bit-rate", cfg.bitRate, "Bit rate in bit/s")->capture_default_str();
    app.add_option("--samples-per-bit", cfg.samplesPerBit, "Samples per bit")
        ->capture_default_str()
        ->check(CLI::Range(2, 1024));
    app.add_option("--loss-db", cfg.lossDb, "Built-in line: loss in dB at Nyquist (bit rate / 2)")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 80.0));
    app.add_option("--skin-fraction", cfg.skinFraction,
                   "Built-in line: share of the Nyquist loss due to the skin effect")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--s4p", cfg.s4pFile, "Touchstone 1.x four-port file used as the channel");
    app.add_option("--ports", ports,
                   "Port numbering of the .s4p: 1-2/3-4 (input pair 1,2; output pair 3,4) or "
                   "1-3/2-4 (input pair 1,3; output pair 2,4)")
        ->capture_default_str();
    app.add_option("--prbs", cfg.prbsOrder, "PRBS order: 7, 15, 23 or 31")
        ->check(CLI::IsMember({7, 15, 23, 31}))
        ->capture_default_str();
    app.add_option("--ber", cfg.ber, "Target bit-error ratio of the statistical eye")
        ->capture_default_str()
        ->check(CLI::Range(1e-30, 0.49));
    app.add_option("--amplitude", cfg.amplitude, "Stimulus levels +-amplitude, volts")
        ->capture_default_str();
    app.add_option("--block-bits", cfg.blockBits, "Bits per AMI_GetWave block")
        ->capture_default_str()
        ->check(CLI::Range(1, 1 << 20));
    app.add_option("--tx", txOver, "Transmitter parameter override NAME=VALUE (nested: a.b=VALUE)");
    app.add_option("--rx", rxOver, "Receiver parameter override NAME=VALUE (nested: dfe.mode=1)");
    app.add_option("--tx-lib", given.txLibrary, "Transmitter library (default: from the kit)");
    app.add_option("--rx-lib", given.rxLibrary, "Receiver library (default: from the kit)");
    app.add_option("--tx-ami", given.txAmi, "Transmitter .ami file (default: from the kit)");
    app.add_option("--rx-ami", given.rxAmi, "Receiver .ami file (default: from the kit)");
    app.add_flag("--show-messages", showMessages,
                 "Print both models' messages and output parameters");
    app.add_flag("--quiet", cfg.quiet, "No progress on standard error");
    CLI11_PARSE(app, argc, argv);

    try {
        cfg.runStat = mode != "td";
        cfg.runTd = mode != "stat";
        if (app.count("--ignore-bits")) cfg.ignoreBits = ignoreBits;
        cfg.ports = amisim::parsePortOrder(ports);
        for (const std::string& s : txOver) cfg.txOverrides.push_back(amisim::parseOverride(s));
        for (const std::string& s : rxOver) cfg.rxOverrides.push_back(amisim::parseOverride(s));
        if (!std::filesystem::is_directory(cfg.kitDir) &&
            (given.txLibrary.empty() || given.rxLibrary.empty()))
            throw std::runtime_error("the kit directory '" + cfg.kitDir + "' does not exist");
        // the models get the directory in their parameter string: it must not depend on their cwd
        if (std::filesystem::is_directory(cfg.kitDir))
            cfg.kitDir = std::filesystem::absolute(cfg.kitDir).lexically_normal().string();
        cfg.files = amisim::locateKit(cfg.kitDir, given);

        amisim::LinkResult res = amisim::runLink(cfg);
        std::filesystem::create_directories(outDir);
        const std::vector<std::string> pictures = amisim::writePictures(outDir, res);
        amisim::releasePlotResources();
        const nlohmann::json report = amisim::makeReport(cfg, res, pictures);
        const std::string reportPath = (std::filesystem::path(outDir) / "report.json").string();
        std::ofstream out(reportPath);
        out << report.dump(2) << "\n";
        if (!out) throw std::runtime_error("cannot write '" + reportPath + "'");
        amisim::printSummary(std::cout, cfg, res, showMessages);
        std::cout << "  report: " << reportPath << "\n";
    } catch (const std::exception& e) {
        std::cerr << "amisim: error: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
