// mkdb: writes the transmitter and receiver device database files from device descriptions.
#include <CLI/CLI.hpp>
#include <exception>
#include <filesystem>
#include <iostream>

#include "mkdb/front_end_writer.hpp"
#include "mkdb/writers.hpp"

int main(int argc, char** argv) {
    CLI::App app{
        "Writes the V10KX device database files the transmitter and receiver models read."};
    std::filesystem::path outDir;
    std::filesystem::path txDesc = mkdb::defaultTxDescription();
    std::filesystem::path rxDesc = mkdb::defaultRxDescription();
    std::filesystem::path ibsFile;
    bool txOnly = false, rxOnly = false;
    app.add_option("--out", outDir, "Directory to write the database files into")->required();
    app.add_option("--tx-device", txDesc, "Transmitter device description (JSON)");
    app.add_option("--rx-device", rxDesc, "Receiver device description (JSON)");
    app.add_option("--ibs", ibsFile,
                   "IBIS file of the kit: writes the transmitter's front-end Touchstone files "
                   "from its buffer and package data")
        ->check(CLI::ExistingFile);
    app.add_flag("--tx-only", txOnly, "Write only the transmitter files");
    app.add_flag("--rx-only", rxOnly, "Write only the receiver files");
    CLI11_PARSE(app, argc, argv);

    try {
        std::filesystem::create_directories(outDir);
        if (!rxOnly) {
            mkdb::writeTxDatabase(txDesc, outDir);
            std::cout << "mkdb: transmitter database written to " << outDir.string() << "\n";
            if (!ibsFile.empty()) {
                mkdb::writeTxFrontEnds(ibsFile, outDir);
                std::cout << "mkdb: transmitter front-end files written to " << outDir.string()
                          << "\n";
            }
        }
        if (!txOnly) {
            mkdb::writeRxDatabase(rxDesc, outDir);
            std::cout << "mkdb: receiver database written to " << outDir.string() << "\n";
        }
    } catch (const std::exception& e) {
        std::cerr << "mkdb: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
