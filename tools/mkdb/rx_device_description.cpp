// Parsing and checking of the receiver device description (JSON).
#include "mkdb/rx_device_description.hpp"

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "mkdb/json_file.hpp"

namespace mkdb {
namespace {

using nlohmann::json;

class Fields {
  public:
    Fields(const std::filesystem::path& file) : file(file.string()) {}

    [[noreturn]] void fail(const std::string& where, const std::string& what) const {
        throw std::runtime_error(file + ": " + where + ": " + what);
    }

    const json& member(const json& node, const std::string& where, const char* key) const {
        if (!node.is_object() || !node.contains(key))
            fail(where, std::string("missing \"") + key + "\"");
        return node.at(key);
    }

    double number(const json& node, const std::string& where, const char* key) const {
        const json& v = member(node, where, key);
        if (!v.is_number() || !std::isfinite(v.get<double>())) {
            fail(where + "." + key, "expected a finite number");
        }
        return v.get<double>();
    }

    double positive(const json& node, const std::string& where, const char* key) const {
        const double v = number(node, where, key);
        if (!(v > 0)) fail(where + "." + key, "expected a positive number");
        return v;
    }

    int count(const json& node, const std::string& where, const char* key) const {
        const json& v = member(node, where, key);
        if (!v.is_number_integer() || v.get<long long>() < 1 || v.get<long long>() > 1000000) {
            fail(where + "." + key, "expected a positive integer");
        }
        return static_cast<int>(v.get<long long>());
    }

    std::string text(const json& node, const std::string& where, const char* key) const {
        const json& v = member(node, where, key);
        if (!v.is_string()) fail(where + "." + key, "expected a text");
        return v.get<std::string>();
    }

    std::vector<double> numbers(const json& node, const std::string& where, const char* key,
                                bool allowEmpty = false) const {
        const json& v = member(node, where, key);
        if (!v.is_array() || (!allowEmpty && v.empty())) {
            fail(where + "." + key, "expected a non-empty array of numbers");
        }
        std::vector<double> out;
        for (const auto& e : v) {
            if (!e.is_number() || !std::isfinite(e.get<double>())) {
                fail(where + "." + key, "expected finite numbers only");
            }
            out.push_back(e.get<double>());
        }
        return out;
    }

    const json& array(const json& node, const std::string& where, const char* key) const {
        const json& v = member(node, where, key);
        if (!v.is_array() || v.empty()) fail(where + "." + key, "expected a non-empty array");
        return v;
    }

  private:
    std::string file;
};

RxBlock readBlock(const Fields& f, const json& node, const std::string& where) {
    RxBlock b;
    b.name = f.text(node, where, "name");
    b.file = f.text(node, where, "file");
    const std::string rule = f.text(node, where, "nameRule");
    if (rule != "versioned" && rule != "corner") {
        f.fail(where + ".nameRule", "expected \"versioned\" or \"corner\"");
    }
    b.versioned = rule == "versioned";
    if (!b.versioned) b.supply = f.text(node, where, "supply");

    const json& ac = f.member(node, where, "acGain");
    const std::string acWhere = where + ".acGain";
    b.acGainKeys = f.count(ac, acWhere, "keys");
    b.storedAcGains = f.count(ac, acWhere, "stored");
    if (b.storedAcGains > b.acGainKeys) f.fail(acWhere, "more stored gains than keys");
    if (ac.contains("linearGains")) {
        b.linearGains = f.numbers(ac, acWhere, "linearGains");
        if (static_cast<int>(b.linearGains.size()) != b.storedAcGains) {
            f.fail(acWhere + ".linearGains", "expected one gain per stored AC gain");
        }
        for (double g : b.linearGains) {
            if (!(g > 0)) f.fail(acWhere + ".linearGains", "gains must be positive");
        }
    } else {
        b.peakingDbAtZero = f.number(ac, acWhere, "peakingDbAtZero");
        b.peakingDbPerStep = f.number(ac, acWhere, "peakingDbPerStep");
        if (b.peakingDbAtZero < 0 || b.peakingDbPerStep < 0) {
            f.fail(acWhere, "peaking must not be negative");
        }
    }

    const json& dc = f.member(node, where, "dcGain");
    b.dcGainKeys = f.numbers(dc, where + ".dcGain", "keys");
    b.dcGainDb = f.numbers(dc, where + ".dcGain", "gainDb");
    if (b.dcGainKeys.size() != b.dcGainDb.size()) {
        f.fail(where + ".dcGain", "keys and gainDb differ in length");
    }

    const json& bw = f.member(node, where, "bandwidth");
    b.bandwidthKeys = f.numbers(bw, where + ".bandwidth", "keys");
    b.poleHz = f.numbers(bw, where + ".bandwidth", "poleHz");
    if (b.bandwidthKeys.size() != b.poleHz.size()) {
        f.fail(where + ".bandwidth", "keys and poleHz differ in length");
    }
    for (double p : b.poleHz) {
        if (!(p > 0)) f.fail(where + ".bandwidth.poleHz", "frequencies must be positive");
    }

    b.secondPoleRatio = f.positive(node, where, "secondPoleRatio");
    b.delaySeconds = f.number(node, where, "delaySeconds");
    if (b.delaySeconds < 0) f.fail(where + ".delaySeconds", "must not be negative");
    b.stagePoleScale = f.numbers(node, where, "stagePoleScale");
    for (double s : b.stagePoleScale) {
        if (!(s > 0)) f.fail(where + ".stagePoleScale", "scales must be positive");
    }

    const json& variants = f.array(node, where, "variants");
    for (std::size_t i = 0; i < variants.size(); ++i) {
        const std::string vWhere = where + ".variants[" + std::to_string(i) + "]";
        b.variants.push_back(
            {f.text(variants[i], vWhere, "name"), f.number(variants[i], vWhere, "gainOffsetDb")});
    }

    const json& curves = f.member(node, where, "curves");
    b.curveRows = f.count(curves, where + ".curves", "rows");
    b.saturationVolts = f.numbers(curves, where + ".curves", "saturationVolts");
    if (curves.contains("secondPairSaturationVolts")) {
        b.secondPairSaturationVolts =
            f.numbers(curves, where + ".curves", "secondPairSaturationVolts");
        if (b.secondPairSaturationVolts.size() != b.saturationVolts.size()) {
            f.fail(where + ".curves", "the two saturation lists differ in length");
        }
    }
    for (const auto* list : {&b.saturationVolts, &b.secondPairSaturationVolts}) {
        for (double v : *list) {
            if (!(v > 0)) f.fail(where + ".curves", "saturation voltages must be positive");
        }
    }
    return b;
}

}  // namespace

RxDescription readRxDescription(const std::filesystem::path& file) {
    const json root = readJsonFile(file, "receiver description");
    const Fields f(file);
    RxDescription d;
    d.family = f.text(root, "root", "family");

    const json& grid = f.member(root, "root", "frequencyGrid");
    d.gridStartHz = f.positive(grid, "frequencyGrid", "startHz");
    d.gridStopHz = f.positive(grid, "frequencyGrid", "stopHz");
    d.pointsPerDecade = f.count(grid, "frequencyGrid", "pointsPerDecade");
    if (d.gridStopHz < 40e9 || d.gridStopHz <= d.gridStartHz) {
        f.fail("frequencyGrid", "the grid must run from startHz up to at least 40 GHz");
    }

    const json& curve = f.member(root, "root", "amplitudeCurve");
    d.curvePoints = f.count(curve, "amplitudeCurve", "points");
    d.curveInputMaxVolts = f.positive(curve, "amplitudeCurve", "inputMaxVolts");
    if (d.curvePoints < 14) {
        f.fail("amplitudeCurve.points", "at least 14 points are needed for the curve fits");
    }

    const json& corners = f.array(root, "root", "corners");
    for (std::size_t i = 0; i < corners.size(); ++i) {
        const std::string w = "corners[" + std::to_string(i) + "]";
        d.corners.push_back({f.text(corners[i], w, "name"), f.text(corners[i], w, "suffix"),
                             f.positive(corners[i], w, "frequencyScale"),
                             f.number(corners[i], w, "gainOffsetDb")});
    }
    const json& supplies = f.array(root, "root", "supplies");
    for (std::size_t i = 0; i < supplies.size(); ++i) {
        const std::string w = "supplies[" + std::to_string(i) + "]";
        d.supplies.push_back({f.text(supplies[i], w, "label"), f.text(supplies[i], w, "suffix"),
                              f.positive(supplies[i], w, "frequencyScale"),
                              f.positive(supplies[i], w, "saturationScale")});
    }
    const json& blocks = f.array(root, "root", "blocks");
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        d.blocks.push_back(readBlock(f, blocks[i], "blocks[" + std::to_string(i) + "]"));
        const RxBlock& b = d.blocks.back();
        if (!b.versioned) {
            bool known = false;
            for (const auto& s : d.supplies) known = known || s.label == b.supply;
            if (!known) f.fail(b.name, "supply \"" + b.supply + "\" is not among the supplies");
        }
    }

    const json& dfe = f.member(root, "root", "dfeMaps");
    d.dfeFile = f.text(dfe, "dfeMaps", "file");
    for (double r : f.numbers(dfe, "dfeMaps", "tapRanges")) {
        // Bounded before the conversion to int; a range is split into two equal halves.
        if (!(r >= 2 && r <= 2000000) || r != std::floor(r) || std::fmod(r, 2.0) != 0) {
            f.fail("dfeMaps.tapRanges", "expected even code ranges from 2 to 2000000");
        }
        d.tapRanges.push_back(static_cast<int>(r));
    }
    d.codesPerTable = f.count(dfe, "dfeMaps", "codesPerTable");
    for (int r : d.tapRanges) {
        if (r / 2 >= d.codesPerTable) {
            f.fail("dfeMaps.codesPerTable", "too few codes for the largest tap range");
        }
    }
    const json& tables = f.array(dfe, "dfeMaps", "tables");
    for (std::size_t i = 0; i < tables.size(); ++i) {
        const std::string w = "dfeMaps.tables[" + std::to_string(i) + "]";
        RxDfeTable t{f.number(tables[i], w, "bandwidthKey"), f.text(tables[i], w, "digit"),
                     f.numbers(tables[i], w, "fullScaleVolts")};
        if (t.fullScaleVolts.size() != d.tapRanges.size()) {
            f.fail(w + ".fullScaleVolts", "expected one value per tap range");
        }
        for (double v : t.fullScaleVolts) {
            if (!(v > 0)) f.fail(w + ".fullScaleVolts", "voltages must be positive");
        }
        d.dfeTables.push_back(std::move(t));
    }
    return d;
}

}  // namespace mkdb
