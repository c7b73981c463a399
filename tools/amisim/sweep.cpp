#include "amisim/sweep.hpp"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

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

#include "amisim/progress.hpp"

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

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> parts{""};
    for (char c : s) {
        if (c == sep)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

nlohmann::json pointJson(std::size_t index, const SweepPoint& p) {
    nlohmann::json j{{"i", index}, {"ok", p.ok}};
    if (p.ok) {
        j["h"] = p.eyeHeight;
        j["w"] = p.eyeWidth;
        j["raw"] = p.rawEyeHeight;
        j["warnings"] = p.modelWarnings;
    } else {
        j["error"] = p.error;
    }
    return j;
}

SweepPoint runPoint(const LinkConfig& base, const std::vector<SweepAxis>& axes,
                    const std::vector<std::string>& values, const PreparedChannel& channel) {
    SweepPoint p;
    p.values = values;
    try {
        const LinkResult r = runLink(configForPoint(base, axes, values), channel);
        p.ok = r.stat.has_value();
        p.eyeHeight = r.stat->eyeHeight;
        p.eyeWidth = r.stat->eyeWidth;
        p.rawEyeHeight = r.stat->rawEyeHeight;
        p.modelWarnings = r.tx.warnings.size() + r.rx.warnings.size();
    } catch (const std::exception& e) {
        p.ok = false;
        p.error = e.what();
    }
    return p;
}

// A worker: runs the points i with i % jobs == worker, one JSON line each into `fd`.
[[noreturn]] void workerMain(int fd, int worker, int jobs, const LinkConfig& base,
                             const std::vector<SweepAxis>& axes,
                             const std::vector<std::vector<std::string>>& grid,
                             const PreparedChannel& channel) {
    auto send = [fd](const std::string& line) {
        const std::string text = line + "\n";
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = write(fd, text.data() + done, text.size() - done);
            if (n <= 0) _exit(3);
            done += static_cast<std::size_t>(n);
        }
    };
    for (std::size_t i = static_cast<std::size_t>(worker); i < grid.size();
         i += static_cast<std::size_t>(jobs)) {
        send(nlohmann::json{{"start", i}}.dump());
        send(pointJson(i, runPoint(base, axes, grid[i], channel)).dump());
    }
    close(fd);
    _exit(0);
}

std::string describeStatus(int status) {
    if (WIFSIGNALED(status)) {
        const char* name = strsignal(WTERMSIG(status));
        return std::string("the worker process was killed by signal ") +
               std::to_string(WTERMSIG(status)) + (name ? std::string(" (") + name + ")" : "");
    }
    return "the worker process stopped with status " + std::to_string(WEXITSTATUS(status));
}

}  // namespace

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
        for (const std::string& v : split(range, ',')) {
            if (v.empty()) throw std::invalid_argument("--sweep '" + text + "' has an empty value");
            axis.values.push_back(v);
        }
    } else {
        const std::vector<std::string> parts = split(range, ':');
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

LinkConfig withPointValues(const LinkConfig& base, const std::vector<SweepAxis>& axes,
                           const std::vector<std::string>& values) {
    LinkConfig c = base;
    for (std::size_t i = 0; i < axes.size() && i < values.size(); ++i)
        (axes[i].model == "tx" ? c.txOverrides : c.rxOverrides)
            .push_back(ParamOverride{axes[i].parameter, values[i]});
    return c;
}

LinkConfig configForPoint(const LinkConfig& base, const std::vector<SweepAxis>& axes,
                          const std::vector<std::string>& values) {
    LinkConfig c = withPointValues(base, axes, values);
    c.runStat = true;
    c.runTd = false;
    c.quiet = true;
    c.probeOutputRange = false;
    c.frequencyResponse = false;
    return c;
}

SweepResult runSweep(const LinkConfig& base, const std::vector<SweepAxis>& axes, int jobs) {
    if (jobs < 1 || jobs > kMaxJobs)
        throw std::invalid_argument("--jobs must lie within 1 .. " + std::to_string(kMaxJobs));
    SweepResult res;
    res.axes = axes;
    const auto grid = sweepGrid(axes);
    if (grid.size() > kMaxSweepPoints)
        throw std::invalid_argument("the sweep has " + std::to_string(grid.size()) +
                                    " points; at most " + std::to_string(kMaxSweepPoints) +
                                    " are run");
    jobs = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(jobs), grid.size()));
    res.jobs = jobs;
    const auto start = std::chrono::steady_clock::now();
    LinkConfig statBase = base;
    statBase.runTd = false;
    statBase.runStat = true;
    const PreparedChannel channel = prepareChannel(statBase);
    res.points.resize(grid.size());
    for (std::size_t i = 0; i < grid.size(); ++i) {
        res.points[i].values = grid[i];
        res.points[i].error = "not run";
    }

    struct Worker {
        pid_t pid = -1;
        int fd = -1;
        std::string buffer;
        std::optional<std::size_t> running;
    };
    std::vector<Worker> workers(static_cast<std::size_t>(jobs));
    std::fflush(stdout);
    std::fflush(stderr);
    for (int w = 0; w < jobs; ++w) {
        int fds[2];
        if (pipe(fds) != 0) throw std::runtime_error("cannot create a pipe for a sweep worker");
        const pid_t pid = fork();
        if (pid < 0) throw std::runtime_error("cannot start a sweep worker process");
        if (pid == 0) {
            close(fds[0]);
            for (int o = 0; o < w; ++o) close(workers[static_cast<std::size_t>(o)].fd);
            workerMain(fds[1], w, jobs, base, axes, grid, channel);
        }
        close(fds[1]);
        workers[static_cast<std::size_t>(w)].pid = pid;
        workers[static_cast<std::size_t>(w)].fd = fds[0];
    }

    Progress progress("sweep", grid.size(), base.quiet, "points");
    std::size_t done = 0;
    std::size_t open = workers.size();
    while (open > 0) {
        std::vector<pollfd> fds;
        std::vector<std::size_t> which;
        for (std::size_t w = 0; w < workers.size(); ++w)
            if (workers[w].fd >= 0) {
                fds.push_back(pollfd{workers[w].fd, POLLIN, 0});
                which.push_back(w);
            }
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error("waiting for the sweep workers failed");
        }
        for (std::size_t k = 0; k < fds.size(); ++k) {
            if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            Worker& wk = workers[which[k]];
            char buf[8192];
            const ssize_t n = read(wk.fd, buf, sizeof buf);
            if (n > 0) {
                wk.buffer.append(buf, static_cast<std::size_t>(n));
                std::size_t nl;
                while ((nl = wk.buffer.find('\n')) != std::string::npos) {
                    const std::string line = wk.buffer.substr(0, nl);
                    wk.buffer.erase(0, nl + 1);
                    const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
                    if (j.is_discarded()) continue;
                    if (j.contains("start")) {
                        wk.running = j["start"].get<std::size_t>();
                        continue;
                    }
                    const std::size_t i = j.value("i", grid.size());
                    if (i >= grid.size()) continue;
                    SweepPoint& p = res.points[i];
                    p.ok = j.value("ok", false);
                    p.error = j.value("error", std::string());
                    p.eyeHeight = j.value("h", 0.0);
                    p.eyeWidth = j.value("w", 0.0);
                    p.rawEyeHeight = j.value("raw", 0.0);
                    p.modelWarnings = j.value("warnings", std::size_t{0});
                    wk.running.reset();
                    progress.update(++done);
                }
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            close(wk.fd);
            wk.fd = -1;
            --open;
            int status = 0;
            waitpid(wk.pid, &status, 0);
            if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
                const std::string why = describeStatus(status);
                if (wk.running) res.points[*wk.running].error = why + " while running this point";
                for (std::size_t i = which[k]; i < grid.size(); i += static_cast<std::size_t>(jobs))
                    if (!res.points[i].ok && res.points[i].error == "not run")
                        res.points[i].error = "not run: " + why + " on an earlier point";
            }
        }
    }
    progress.update(done);
    progress.finish();
    for (std::size_t i = 0; i < res.points.size(); ++i) {
        const SweepPoint& p = res.points[i];
        if (!p.ok) continue;
        if (!res.best || p.eyeHeight > res.points[*res.best].eyeHeight ||
            (p.eyeHeight == res.points[*res.best].eyeHeight &&
             p.eyeWidth > res.points[*res.best].eyeWidth))
            res.best = i;
    }
    res.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return res;
}

}  // namespace amisim
