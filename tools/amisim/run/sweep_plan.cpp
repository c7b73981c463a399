#include "amisim/run/sweep_plan.hpp"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

namespace amisim {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

json planJson(const SweepPlan& plan) {
    json axes = json::array();
    for (const SweepAxis& a : plan.axes)
        axes.push_back({{"model", a.model}, {"parameter", a.parameter}, {"values", a.values}});
    return {{"tool", "amisim"},
            {"version", plan.version},
            {"working_directory", plan.workingDirectory},
            {"command_line", plan.commandLine},
            {"axes", axes},
            {"order", "grid order: the first axis changes slowest"},
            {"points", plan.points},
            {"out", plan.outDir},
            {"kit", plan.kitDir},
            {"tx_library", plan.files.txLibrary},
            {"rx_library", plan.files.rxLibrary},
            {"tx_ami", plan.files.txAmi},
            {"rx_ami", plan.files.rxAmi},
            {"jobs", "one per point: amisim --run-point DIR K for K in 0 .. points - 1"}};
}

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read '" + path.string() + "'");
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Writes through a temporary file in the same folder, then renames: readers see the whole
// file or none.
void writeWhole(const fs::path& path, const std::string& text) {
    const fs::path tmp =
        path.parent_path() / (path.filename().string() + ".tmp." + std::to_string(getpid()));
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            std::error_code ec;
            fs::remove(tmp, ec);
            throw std::runtime_error("cannot write '" + path.string() + "'");
        }
    }
    std::error_code ec;
    fs::rename(tmp, path, ec);
    if (ec) {
        fs::remove(tmp, ec);
        throw std::runtime_error("cannot write '" + path.string() + "': " + ec.message());
    }
}

}  // namespace

void writePlan(const std::string& dir, const SweepPlan& plan) {
    std::error_code ec;
    fs::create_directories(fs::path(dir) / "points", ec);
    if (ec)
        throw std::runtime_error("--plan: cannot create the plan folder '" + dir +
                                 "': " + ec.message());
    const fs::path file = fs::path(dir) / kPlanFile;
    const json j = planJson(plan);
    if (fs::exists(file, ec)) {
        const json old = json::parse(readAll(file), nullptr, false);
        if (old != j)
            throw std::runtime_error("--plan: '" + dir +
                                     "' holds another sweep's plan; give a new folder, or "
                                     "remove it to start over");
        return;
    }
    writeWhole(file, j.dump(2) + "\n");
}

SweepPlan readPlan(const std::string& dir) {
    const fs::path file = fs::path(dir) / kPlanFile;
    std::error_code ec;
    if (!fs::exists(file, ec))
        throw std::runtime_error("'" + dir + "' holds no sweep plan (no " + kPlanFile +
                                 "; amisim --sweep ... --plan DIR writes one)");
    const json j = json::parse(readAll(file), nullptr, false);
    SweepPlan p;
    try {
        if (j.is_discarded() || !j.is_object()) throw std::runtime_error("not JSON");
        p.version = j.at("version").get<std::string>();
        p.workingDirectory = j.at("working_directory").get<std::string>();
        p.commandLine = j.at("command_line").get<std::vector<std::string>>();
        for (const json& a : j.at("axes"))
            p.axes.push_back(SweepAxis{a.at("model").get<std::string>(),
                                       a.at("parameter").get<std::string>(),
                                       a.at("values").get<std::vector<std::string>>(), ""});
        p.points = j.at("points").get<std::size_t>();
        p.outDir = j.at("out").get<std::string>();
        p.kitDir = j.value("kit", std::string());
        p.files.txLibrary = j.value("tx_library", std::string());
        p.files.rxLibrary = j.value("rx_library", std::string());
        p.files.txAmi = j.value("tx_ami", std::string());
        p.files.rxAmi = j.value("rx_ami", std::string());
    } catch (const std::exception& e) {
        throw std::runtime_error("the sweep plan '" + file.string() + "' is damaged (" + e.what() +
                                 ")");
    }
    return p;
}

std::string pointFolder(const std::string& dir, std::size_t k) {
    return (fs::path(dir) / "points" / std::to_string(k)).string();
}

bool pointDone(const std::string& dir, std::size_t k) {
    std::error_code ec;
    return fs::exists(fs::path(pointFolder(dir, k)) / kPointFile, ec);
}

void savePoint(const std::string& dir, std::size_t k, const SweepPoint& p,
               const std::vector<SweepAxis>& axes) {
    const fs::path folder = pointFolder(dir, k);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        throw std::runtime_error("cannot create the point folder '" + folder.string() +
                                 "': " + ec.message());
    // the status first: a point is done once its result is in place
    writeWhole(folder / kPointStatusFile, std::string(p.ok ? "0" : "1") + "\n");
    writeWhole(folder / kPointFile, sweepPointToJson(p, axes).dump(2) + "\n");
}

std::optional<SweepPoint> loadPoint(const std::string& dir, std::size_t k,
                                    const std::vector<SweepAxis>& axes,
                                    const std::vector<std::string>& values) {
    if (!pointDone(dir, k)) return std::nullopt;
    const fs::path file = fs::path(pointFolder(dir, k)) / kPointFile;
    SweepPoint bad;
    bad.values = values;
    bad.ran = true;
    try {
        const json j = json::parse(readAll(file), nullptr, false);
        SweepPoint p = sweepPointFromJson(j, axes);
        if (p.values == values) return p;
        bad.error = "its result in '" + file.string() + "' is for other values";
    } catch (const std::exception& e) {
        bad.error = "its result '" + file.string() + "' cannot be read: " + e.what();
    }
    return bad;
}

}  // namespace amisim
