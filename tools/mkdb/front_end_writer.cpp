#include "mkdb/front_end_writer.hpp"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "amisim/channel/analog_network.hpp"
#include "amisim/host/ibis_file.hpp"

namespace mkdb {

namespace {

struct CornerFiles {
    const char* code;
    amisim::IbisCorner column;  // fast silicon drives hardest: the max column
};
constexpr CornerFiles kCorners[] = {{"tt", amisim::IbisCorner::Typ},
                                    {"ff", amisim::IbisCorner::Max},
                                    {"ss", amisim::IbisCorner::Min}};
constexpr int kSlewSettings = 6;
// 0 .. 50 GHz in 50 MHz steps: the lumped network is smooth, and this covers the bands of the
// bit rates the transmitter supports several times over.
constexpr int kPoints = 1001;
constexpr double kStepHz = 50e6;
constexpr double kReferenceOhms = 50.0;

std::string fileName(const char* code, int slew) {
    return std::string("v10tx_afe_") + code + "_" + std::to_string(slew) + ".s4p";
}

}  // namespace

std::vector<std::string> txFrontEndFileNames() {
    std::vector<std::string> names;
    for (const CornerFiles& c : kCorners)
        for (int s = 1; s <= kSlewSettings; ++s) names.push_back(fileName(c.code, s));
    return names;
}

void writeTxFrontEnds(const std::filesystem::path& ibsFile, const std::filesystem::path& outDir) {
    amisim::IbisFile ibs;
    try {
        ibs = amisim::readIbis(ibsFile.string());
    } catch (const amisim::IbisError& e) {
        throw std::runtime_error(e.what());
    }
    const amisim::IbisModel* tx = amisim::pinModel(ibs, true);
    if (!tx) throw std::runtime_error(ibsFile.string() + ": no pin uses an output model");
    for (const CornerFiles& c : kCorners) {
        amisim::LumpedEnd leg;
        try {
            leg.sourceOhms = amisim::driverResistance(*tx, c.column);
        } catch (const amisim::IbisError& e) {
            throw std::runtime_error(ibsFile.string() + ": " + e.what());
        }
        if (tx->cComp) leg.cComp = tx->cComp->at(c.column);
        const amisim::IbisPackage pkg = amisim::pinPackage(ibs, *tx, c.column);
        leg.rPkg = pkg.r;
        leg.lPkg = pkg.l;
        leg.cPkg = pkg.c;
        std::vector<double> hz(kPoints);
        std::vector<std::array<amisim::Complex, 16>> s(kPoints);
        for (int k = 0; k < kPoints; ++k) {
            hz[static_cast<std::size_t>(k)] = k * kStepHz;
            s[static_cast<std::size_t>(k)] = amisim::fourPortOfLegs(
                amisim::transmitterLeg(leg, hz[static_cast<std::size_t>(k)]), kReferenceOhms);
        }
        std::ostringstream comment;
        comment.precision(4);
        comment
            << "Transmitter front end, " << c.code << " corner ("
            << amisim::ibisCornerName(c.column) << " column of " << ibsFile.filename().string()
            << ", model " << tx->name << ")\n"
            << "Lumped per leg: ideal source, " << leg.sourceOhms << " ohm source, C_comp "
            << leg.cComp * 1e12 << " pF, package " << leg.rPkg << " ohm " << leg.lPkg * 1e9
            << " nH, C_pkg " << leg.cPkg * 1e12 << " pF\n"
            << "Ports 1 and 2: the ideal source of the P and N legs; 3 and 4: the P and N pins\n"
            << "The slew settings share the network: the edge rate is the transmitter "
               "model's own";
        const std::string text = amisim::touchstoneText(hz, s, kReferenceOhms, comment.str());
        for (int slew = 1; slew <= kSlewSettings; ++slew) {
            const std::filesystem::path out = outDir / fileName(c.code, slew);
            std::ofstream f(out, std::ios::binary | std::ios::trunc);
            f << text;
            f.close();
            if (!f) throw std::runtime_error("cannot write " + out.string());
        }
    }
}

}  // namespace mkdb
