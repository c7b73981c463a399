#include "amisim/run/sweep.hpp"

#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "amisim/run/progress.hpp"

namespace amisim {

namespace {

constexpr std::size_t kMaxAxisValues = 1000;
constexpr int kMaxJobs = 64;

std::vector<std::string> splitDots(const std::string& s) {
    std::vector<std::string> parts{""};
    for (char c : s) {
        if (c == '.')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

bool parseNumber(const std::string& s, double& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    out = std::strtod(s.c_str(), &end);
    return *end == '\0' && std::isfinite(out);
}

bool isWhole(double v) { return std::abs(v - std::round(v)) < 1e-9 * std::max(1.0, std::abs(v)); }

std::string formatValue(double v, bool integer) {
    if (integer) return std::to_string(std::llround(v));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

// What a parameter's values mean, as far as its declaration says.
std::string unitOf(const AmiParameter& p) {
    std::string unit;
    if (p.type == "Integer") unit = "setting code";
    if (p.type == "UI") unit = "UI";
    if (p.type == "Tap") unit = "tap weight";
    if (!p.listTips.empty() && p.listTips.size() == p.allowed.size())
        unit += (unit.empty() ? "" : ": ") + p.listTips.front() + " .. " + p.listTips.back();
    return unit;
}

}  // namespace

std::vector<std::string> splitOn(const std::string& s, char sep) {
    std::vector<std::string> parts{""};
    for (char c : s) {
        if (c == sep)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

SweepAxis parseSweep(const std::string& text, const AmiModelFile& tx, const AmiModelFile& rx) {
    const auto eq = text.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == text.size())
        throw std::invalid_argument("--sweep '" + text +
                                    "' is not of the form NAME=A:B[:STEP] or NAME=V1,V2,...");
    std::string name = text.substr(0, eq);
    const std::string range = text.substr(eq + 1);
    SweepAxis axis;
    const AmiParameter* param = nullptr;
    auto inputOf = [](const AmiModelFile& m, const std::string& dotted) -> const AmiParameter* {
        const AmiParameter* p = m.find(splitDots(dotted));
        return p && p->isInput() ? p : nullptr;
    };
    if (name.rfind("tx.", 0) == 0 || name.rfind("rx.", 0) == 0) {
        axis.model = name.substr(0, 2);
        axis.parameter = name.substr(3);
        param = inputOf(axis.model == "tx" ? tx : rx, axis.parameter);
        if (!param)
            throw std::invalid_argument(
                "--sweep: the " + std::string(axis.model == "tx" ? "transmitter" : "receiver") +
                " has no input parameter '" + axis.parameter + "'");
    } else {
        const AmiParameter* t = inputOf(tx, name);
        const AmiParameter* r = inputOf(rx, name);
        if (t && r)
            throw std::invalid_argument("--sweep: both models have a parameter '" + name +
                                        "'; write tx." + name + " or rx." + name);
        if (!t && !r)
            throw std::invalid_argument("--sweep: neither model has an input parameter '" + name +
                                        "' (amisim --list-params shows them)");
        axis.model = t ? "tx" : "rx";
        axis.parameter = name;
        param = t ? t : r;
    }
    const bool integer = param->type == "Integer";
    if (range.find(':') == std::string::npos) {
        for (const std::string& v : splitOn(range, ',')) {
            if (v.empty()) throw std::invalid_argument("--sweep '" + text + "' has an empty value");
            axis.values.push_back(v);
        }
    } else {
        const std::vector<std::string> parts = splitOn(range, ':');
        double a = 0, b = 0, step = 1;
        if (parts.size() > 3 || !parseNumber(parts[0], a) || !parseNumber(parts[1], b) ||
            (parts.size() == 3 && !parseNumber(parts[2], step)))
            throw std::invalid_argument("--sweep '" + text +
                                        "': A, B and STEP of A:B[:STEP] must be numbers");
        if (!(step > 0))
            throw std::invalid_argument("--sweep '" + text + "': STEP must be positive");
        if (b < a) throw std::invalid_argument("--sweep '" + text + "': B must not be below A");
        if (integer && !(isWhole(a) && isWhole(b) && isWhole(step)))
            throw std::invalid_argument(
                "--sweep '" + text + "': " + axis.parameter +
                " is an integer parameter; A, B and STEP must be whole numbers");
        const double count = std::floor((b - a) / step + 1e-9) + 1;
        if (count > static_cast<double>(kMaxAxisValues))
            throw std::invalid_argument("--sweep '" + text + "' gives more than " +
                                        std::to_string(kMaxAxisValues) + " values");
        for (long i = 0; i < static_cast<long>(count); ++i)
            axis.values.push_back(formatValue(a + static_cast<double>(i) * step, integer));
    }
    checkSweepValues(axis, axis.model == "tx" ? tx : rx);
    axis.unit = unitOf(*param);
    return axis;
}

std::vector<std::vector<std::string>> sweepGrid(const std::vector<SweepAxis>& axes) {
    std::vector<std::vector<std::string>> grid{{}};
    for (const SweepAxis& a : axes) {
        std::vector<std::vector<std::string>> next;
        for (const auto& prefix : grid)
            for (const std::string& v : a.values) {
                next.push_back(prefix);
                next.back().push_back(v);
            }
        grid = std::move(next);
    }
    return grid;
}

void checkSweepValues(const SweepAxis& axis, const AmiModelFile& model) {
    for (const std::string& v : axis.values) {
        try {
            buildParameterString(model, {ParamOverride{axis.parameter, v}}, {});
        } catch (const AmiFileError& e) {
            throw std::invalid_argument("--sweep " + axis.name() + ": " + e.what());
        }
    }
}

void checkDistinctAxes(const std::vector<SweepAxis>& axes) {
    for (std::size_t i = 0; i < axes.size(); ++i)
        for (std::size_t k = 0; k < i; ++k)
            if (axes[i].name() == axes[k].name())
                throw std::invalid_argument("--sweep: " + axes[i].name() +
                                            " is swept twice; give each parameter one --sweep");
}

PreparedChannel prepareSweepChannel(const LinkConfig& base) {
    LinkConfig statBase = base;
    statBase.runTd = false;
    statBase.runStat = true;
    return prepareChannel(statBase);
}

void runPointValues(const LinkConfig& base, const std::vector<SweepAxis>& axes,
                    const PreparedChannel& channel,
                    const std::vector<std::vector<std::string>>& points, int jobs,
                    bool showProgress,
                    const std::function<void(std::size_t, const SweepPoint&)>& onPoint) {
    if (jobs < 1 || jobs > kMaxJobs)
        throw std::invalid_argument("--jobs must lie within 1 .. " + std::to_string(kMaxJobs));
    struct Running {
        std::size_t index;
        PointProcess proc;
    };
    std::vector<Running> running;
    std::size_t next = 0, done = 0;
    Progress progress("sweep", points.size(), base.quiet || !showProgress, "points");
    auto stopAll = [&running] {
        for (Running& r : running) {
            kill(r.proc.pid, SIGKILL);
            finishSweepPoint(r.proc, {});
        }
    };
    try {
        while (next < points.size() || !running.empty()) {
            while (next < points.size() && running.size() < static_cast<std::size_t>(jobs)) {
                const std::size_t i = next++;
                running.push_back(Running{i, startSweepPoint(base, axes, points[i], channel)});
            }
            std::vector<pollfd> fds;
            for (const Running& r : running) fds.push_back(pollfd{r.proc.fd, POLLIN, 0});
            if (poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR) continue;
                throw std::runtime_error("waiting for the sweep's point processes failed");
            }
            for (std::size_t k = running.size(); k-- > 0;) {
                if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                if (!readSweepPoint(running[k].proc)) continue;
                const SweepPoint p = finishSweepPoint(running[k].proc, axes);
                const std::size_t i = running[k].index;
                running.erase(running.begin() + static_cast<std::ptrdiff_t>(k));
                onPoint(i, p);
                progress.update(++done);
            }
        }
    } catch (...) {
        stopAll();
        throw;
    }
    progress.finish();
}

void runSweepPoints(const LinkConfig& base, const std::vector<SweepAxis>& axes,
                    const PreparedChannel& channel, const std::vector<std::size_t>& indices,
                    int jobs, const std::function<void(std::size_t, const SweepPoint&)>& onPoint) {
    const auto grid = sweepGrid(axes);
    std::vector<std::vector<std::string>> points;
    points.reserve(indices.size());
    for (const std::size_t i : indices) {
        if (i >= grid.size())
            throw std::invalid_argument("sweep point " + std::to_string(i) +
                                        " is not in the grid of " + std::to_string(grid.size()) +
                                        " points");
        points.push_back(grid[i]);
    }
    runPointValues(base, axes, channel, points, jobs, true,
                   [&](std::size_t k, const SweepPoint& p) { onPoint(indices[k], p); });
}

SweepResult runSweep(const LinkConfig& base, const std::vector<SweepAxis>& axes, int jobs,
                     SweepObjective objective) {
    if (jobs < 1 || jobs > kMaxJobs)
        throw std::invalid_argument("--jobs must lie within 1 .. " + std::to_string(kMaxJobs));
    checkDistinctAxes(axes);
    SweepResult res;
    res.axes = axes;
    res.objective = objective;
    const auto grid = sweepGrid(axes);
    if (grid.size() > kMaxSweepPoints)
        throw std::invalid_argument("the sweep has " + std::to_string(grid.size()) +
                                    " points; at most " + std::to_string(kMaxSweepPoints) +
                                    " are run");
    res.jobs = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(jobs), grid.size()));
    const auto start = std::chrono::steady_clock::now();
    const PreparedChannel channel = prepareSweepChannel(base);
    res.points.resize(grid.size());
    std::vector<std::size_t> indices(grid.size());
    for (std::size_t i = 0; i < grid.size(); ++i) {
        res.points[i].values = grid[i];
        indices[i] = i;
    }
    runSweepPoints(base, axes, channel, indices, res.jobs,
                   [&res](std::size_t i, const SweepPoint& p) { res.points[i] = p; });
    rankSweep(res);
    res.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return res;
}

}  // namespace amisim
