#include "amisim/channel/analog_ends.hpp"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "amisim/host/ami_file.hpp"
#include "amisim/channel/channel_checks.hpp"
#include "amisim/channel/port_detection.hpp"

namespace amisim {

namespace {

using ResolveFn = std::int32_t (*)(void*, const char*, char**);
using ResolveCloseFn = std::int32_t (*)(char*);

std::string fixed(double v, int digits) {
    std::ostringstream os;
    os.precision(digits);
    os << v;
    return os.str();
}

std::array<Complex, 4> interpolate(const std::vector<double>& hz,
                                   const std::vector<std::array<Complex, 4>>& s, double f) {
    if (f <= hz.front()) return s.front();
    if (f >= hz.back()) return s.back();
    const std::size_t hi =
        static_cast<std::size_t>(std::upper_bound(hz.begin(), hz.end(), f) - hz.begin());
    const std::size_t lo = hi - 1;
    const double w = (f - hz[lo]) / (hz[hi] - hz[lo]);
    std::array<Complex, 4> out;
    for (std::size_t i = 0; i < 4; ++i) out[i] = (1 - w) * s[lo][i] + w * s[hi][i];
    return out;
}

}  // namespace

TxResolution resolveTxFrontEnd(const std::string& library, const std::string& parametersIn) {
    TxResolution r;
    dlerror();
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* e = dlerror();
        r.note = "cannot load " + library + ": " + (e ? e : "unknown loader error");
        return r;
    }
    auto resolve = reinterpret_cast<ResolveFn>(dlsym(handle, "AMI_Resolve"));
    auto release = reinterpret_cast<ResolveCloseFn>(dlsym(handle, "AMI_Resolve_Close"));
    if (!resolve || !release) {
        r.note = "the library exports no AMI_Resolve";
        dlclose(handle);
        return r;
    }
    std::string text;
    char* out = nullptr;
    const std::int32_t ok = resolve(nullptr, parametersIn.c_str(), &out);
    if (ok == 1 && out) text = out;
    if (out) release(out);
    dlclose(handle);
    if (ok != 1) {
        r.note = "AMI_Resolve failed";
        return r;
    }
    if (text.empty()) {
        r.note = "AMI_Resolve named nothing";
        return r;
    }
    r.called = true;
    try {
        const AmiList root = parseAmiText(text, "AMI_Resolve output");
        if (const AmiList* t = root.find("Tx_R"); t && t->values.size() == 1) {
            char* end = nullptr;
            const double v = std::strtod(t->values[0].c_str(), &end);
            if (end != t->values[0].c_str() && *end == '\0' && v > 0 && std::isfinite(v)) r.txR = v;
        }
        if (const AmiList* t = root.find("Tstonefile"); t && t->values.size() == 1)
            r.tstoneFile = std::filesystem::path(t->values[0]).filename().string();
    } catch (const AmiFileError& e) {
        r.note = std::string("the output of AMI_Resolve does not parse: ") + e.what();
    }
    return r;
}

Abcd AnalogEnds::transmitterAt(double hz) const {
    if (!frontEndHz.empty())
        return abcdFromS(interpolate(frontEndHz, frontEndSdd, hz), 2 * frontEndZ0);
    return differentialOfLeg(transmitterLeg(tx, hz));
}

Abcd AnalogEnds::receiverAt(double hz) const { return differentialOfLeg(receiverLeg(rx, hz)); }

Complex AnalogEnds::transfer(const std::array<Complex, 4>& channelSdd, double zd, double hz) const {
    // a channel or front end that passes nothing at this frequency passes nothing in the link
    if (std::abs(channelSdd[2]) < 1e-300) return 0.0;
    try {
        const Abcd t = transmitterAt(hz) * abcdFromS(channelSdd, zd) * receiverAt(hz);
        std::optional<double> load;
        if (rxTermination) load = 2 * *rxTermination;
        const Complex h = loadedTransfer(t, load);
        return std::isfinite(h.real()) && std::isfinite(h.imag()) ? h : Complex(0.0);
    } catch (const std::domain_error&) {
        return 0.0;
    }
}

std::string AnalogEnds::describe() const {
    std::ostringstream os;
    os << "analog ends at the " << corner << " corner of "
       << std::filesystem::path(ibsFile).filename().string() << ": ";
    if (!txFrontEndFile.empty())
        os << "transmitter front end " << std::filesystem::path(txFrontEndFile).filename().string();
    else
        os << "transmitter " << fixed(tx.sourceOhms, 4) << " ohm (" << txSource << "), C_comp "
           << fixed(tx.cComp * 1e12, 3) << " pF, package " << fixed(tx.rPkg, 3) << " ohm "
           << fixed(tx.lPkg * 1e9, 3) << " nH " << fixed(tx.cPkg * 1e12, 3) << " pF";
    os << "; receiver package " << fixed(rx.rPkg, 3) << " ohm " << fixed(rx.lPkg * 1e9, 3) << " nH "
       << fixed(rx.cPkg * 1e12, 3) << " pF, C_comp " << fixed(rx.cComp * 1e12, 3)
       << " pF, termination "
       << (rxTermination ? fixed(*rxTermination, 4) + " ohm per leg" : std::string("none (open)"));
    return os.str();
}

AnalogEnds loadAnalogEnds(const std::string& ibsFile, IbisCorner corner,
                          const TxResolution& resolution, const std::string& kitDir) {
    const IbisFile f = readIbis(ibsFile);
    AnalogEnds e;
    e.ibsFile = ibsFile;
    e.corner = ibisCornerName(corner);
    const IbisModel* tx = pinModel(f, true);
    const IbisModel* rx = pinModel(f, false);
    if (!tx) throw IbisError(ibsFile + ": no pin uses an output model, so there is no transmitter");
    if (!rx) throw IbisError(ibsFile + ": no pin uses an input model, so there is no receiver");
    e.txModel = tx->name;
    e.rxModel = rx->name;
    if (tx->cComp) e.tx.cComp = tx->cComp->at(corner);
    if (rx->cComp) e.rx.cComp = rx->cComp->at(corner);
    for (auto [model, end] : {std::pair{tx, &e.tx}, std::pair{rx, &e.rx}}) {
        const IbisPackage pkg = pinPackage(f, *model, corner);
        end->rPkg = pkg.r;
        end->lPkg = pkg.l;
        end->cPkg = pkg.c;
    }
    if (resolution.txR) {
        e.tx.sourceOhms = *resolution.txR;
        e.txSource = "Tx_R from AMI_Resolve";
    } else {
        e.tx.sourceOhms = driverResistance(*tx, corner);
        e.txSource = "I-V tables of " + tx->name;
    }
    e.rxTermination = terminationResistance(*rx, corner);
    if (!e.rxTermination)
        e.warnings.push_back("the receiver model " + rx->name +
                             " has no termination ([Rgnd] or [Rpower]): its input is left open");

    if (!resolution.tstoneFile.empty()) {
        const std::filesystem::path p = std::filesystem::path(kitDir) / resolution.tstoneFile;
        std::error_code ec;
        if (!std::filesystem::is_regular_file(p, ec)) {
            e.warnings.push_back("the transmitter names the front-end file " +
                                 resolution.tstoneFile +
                                 ", which the kit lacks: its lumped end from the .ibs is used");
        } else {
            FourPortData d = readS4p(p.string());
            if (d.frequencies.size() < 2)
                throw TouchstoneError(p.string() + ": at least two frequency points are needed");
            const PortDetection det = detectPortOrder(d);
            const PortOrder order = det.detected.value_or(PortOrder::Pairs12_34);
            for (const auto& s : d.s) e.frontEndSdd.push_back(differentialS(s, order));
            double worst = 0;
            for (const auto& s : d.s) worst = std::max(worst, largestSingularValue(s));
            if (worst > 1.0 + 1e-6)
                e.warnings.push_back("the front-end file " + resolution.tstoneFile +
                                     " is not passive (largest singular value " + fixed(worst, 5) +
                                     ")");
            std::vector<Complex> sdd21;
            for (const auto& s : e.frontEndSdd) sdd21.push_back(s[2]);
            const double early = nonCausalEnergy(d.frequencies, sdd21);
            if (early > 0.01)
                e.warnings.push_back("the front-end file " + resolution.tstoneFile +
                                     " is not causal (" + fixed(100 * early, 3) +
                                     " % of its energy before time zero)");
            e.frontEndHz = std::move(d.frequencies);
            e.frontEndZ0 = d.referenceOhms;
            e.txFrontEndFile = p.string();
            e.txSource = "front-end file " + resolution.tstoneFile;
        }
    }
    return e;
}

}  // namespace amisim
