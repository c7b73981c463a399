#pragma once
// A small reader of IBIS files: what a channel needs from the buffers and the package, the
// [Component] with its [Package] and [Pin] parasitics and the [Model] sections with their
// C_comp, I-V tables and terminations. Everything else in the file is skipped.
#include <array>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace amisim {

struct IbisError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The three columns of an IBIS table: typ, min, max.
enum class IbisCorner { Typ = 0, Min = 1, Max = 2 };
std::optional<IbisCorner> parseIbisCorner(const std::string& text);
std::string ibisCornerName(IbisCorner c);

// A typ/min/max triple; min and max fall back to typ where the file says NA.
struct IbisValue {
    std::array<double, 3> v{};
    double at(IbisCorner c) const { return v[static_cast<std::size_t>(c)]; }
};

struct IbisIvTable {
    std::vector<double> volts;
    std::vector<IbisValue> amps;
    bool empty() const { return volts.empty(); }
};

struct IbisModel {
    std::string name, type;
    std::optional<IbisValue> cComp;
    IbisIvTable pulldown, pullup, gndClamp, powerClamp;
    std::optional<IbisValue> rgnd, rpower;  // on-die termination to each rail
};

struct IbisPin {
    std::string name, signal, model;
    std::optional<double> r, l, c;  // per-pin parasitics; the [Package] values when absent
};

struct IbisComponent {
    std::string name;
    std::optional<IbisValue> rPkg, lPkg, cPkg;
    std::vector<IbisPin> pins;
};

struct IbisFile {
    std::string path;
    std::vector<IbisComponent> components;
    std::map<std::string, IbisModel> models;

    const IbisModel* model(const std::string& name) const;
};

// A number with an IBIS scale suffix (T G M k m u n p f) and any unit letters after it:
// "1.20nH" is 1.2e-9, "16.3743mA" is 0.0163743. Throws IbisError on anything else.
double parseIbisNumber(const std::string& text, const std::string& where);

// Throws IbisError naming the file and line on anything it cannot read.
IbisFile parseIbis(const std::string& text, const std::string& origin);
IbisFile readIbis(const std::string& path);

// The first model of a pin of the file that drives (Output, I/O, 3-state, open kinds) or
// receives (Input); null when there is none.
const IbisModel* pinModel(const IbisFile& file, bool driver);

// Package of the pins that use `model`: their own R/L/C where given, the [Package] values
// otherwise, averaged over those pins (the two legs of a pair).
struct IbisPackage {
    double r = 0, l = 0, c = 0;
};
IbisPackage pinPackage(const IbisFile& file, const IbisModel& model, IbisCorner corner);

// Small-signal resistance of a driver from its I-V tables at the corner: the slope of the
// pulldown table at 0 V and of the pullup table at 0 V (referred to the supply), each with the
// clamp there, averaged over the two states. Throws IbisError when the tables cannot tell.
double driverResistance(const IbisModel& model, IbisCorner corner);

// Resistance of the on-die termination: [Rgnd] and [Rpower] in parallel (both rails are AC
// ground); empty when the model has none.
std::optional<double> terminationResistance(const IbisModel& model, IbisCorner corner);

}  // namespace amisim
