#include "amisim/run/sweep_point.hpp"

#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "amisim/run/analog_link.hpp"

namespace amisim {

namespace {

using nlohmann::json;

std::string describeStatus(int status) {
    if (WIFSIGNALED(status)) {
        const char* name = strsignal(WTERMSIG(status));
        return std::string("the point's process was killed by signal ") +
               std::to_string(WTERMSIG(status)) + (name ? std::string(" (") + name + ")" : "");
    }
    return "the point's process stopped with status " + std::to_string(WEXITSTATUS(status));
}

void writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) _exit(3);
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

json sweepPointToJson(const SweepPoint& p, const std::vector<SweepAxis>& axes) {
    json values = json::object();
    for (std::size_t i = 0; i < axes.size() && i < p.values.size(); ++i)
        values[axes[i].name()] = p.values[i];
    json j{{"values", values}, {"ok", p.ok}};
    if (p.ok) {
        j["eye_height"] = p.eyeHeight;
        j["eye_width"] = p.eyeWidth;
        j["eye_height_before_sensitivity"] = p.rawEyeHeight;
        j["model_warnings"] = p.modelWarnings;
    } else {
        j["error"] = p.error;
    }
    j["warnings"] = p.warnings;
    if (p.paramsValid) j["params_valid"] = *p.paramsValid;
    if (p.adapted)
        j["adapted_gains"] = {
            {"ac_gain", p.adapted->ac}, {"dc_gain", p.adapted->dc}, {"vga_gain", p.adapted->vga}};
    if (!p.dfeTaps.empty()) {
        json taps = json::array();
        for (const DfeTap& t : p.dfeTaps)
            taps.push_back({{"tap", t.index}, {"code", t.code}, {"weight", t.weight}});
        j["dfe_taps"] = taps;
    }
    if (!p.endsCorner.empty()) j["ends_corner"] = p.endsCorner;
    if (!p.txFrontEndFile.empty()) j["tx_front_end_file"] = p.txFrontEndFile;
    j["seconds"] = p.seconds;
    return j;
}

SweepPoint sweepPointFromJson(const json& j, const std::vector<SweepAxis>& axes) {
    if (!j.is_object() || !j.contains("values") || !j["values"].is_object() || !j.contains("ok") ||
        !j["ok"].is_boolean())
        throw std::runtime_error("the record is not a sweep point");
    SweepPoint p;
    p.ran = true;
    try {
        for (const SweepAxis& a : axes) {
            if (!j["values"].contains(a.name()))
                throw std::runtime_error("the record has no value of " + a.name());
            p.values.push_back(j["values"][a.name()].get<std::string>());
        }
        p.ok = j["ok"].get<bool>();
        p.error = j.value("error", std::string());
        p.eyeHeight = j.value("eye_height", 0.0);
        p.eyeWidth = j.value("eye_width", 0.0);
        p.rawEyeHeight = j.value("eye_height_before_sensitivity", 0.0);
        p.modelWarnings = j.value("model_warnings", std::size_t{0});
        p.warnings = j.value("warnings", std::vector<std::string>{});
        if (j.contains("params_valid")) p.paramsValid = j["params_valid"].get<bool>();
        if (j.contains("adapted_gains")) {
            const json& g = j["adapted_gains"];
            p.adapted = AdaptedGains{g.at("ac_gain").get<int>(), g.at("dc_gain").get<int>(),
                                     g.at("vga_gain").get<int>()};
        }
        p.endsCorner = j.value("ends_corner", std::string());
        p.txFrontEndFile = j.value("tx_front_end_file", std::string());
        for (const json& t : j.value("dfe_taps", json::array()))
            p.dfeTaps.push_back(DfeTap{t.at("tap").get<int>(), t.at("code").get<int>(),
                                       t.at("weight").get<double>()});
        p.seconds = j.value("seconds", 0.0);
    } catch (const json::exception& e) {
        throw std::runtime_error(std::string("the sweep point record is malformed: ") + e.what());
    }
    if (!p.ok && p.error.empty()) p.error = "failed without a reason";
    return p;
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
    return statFiguresOnly(withPointValues(base, axes, values));
}

SweepPoint computeSweepPoint(const LinkConfig& base, const std::vector<SweepAxis>& axes,
                             const std::vector<std::string>& values,
                             const PreparedChannel& channel) {
    const auto start = std::chrono::steady_clock::now();
    SweepPoint p;
    p.values = values;
    p.ran = true;
    try {
        const LinkConfig cfg = configForPoint(base, axes, values);
        // The shared channel holds the base's ends; a point whose settings make the
        // transmitter's AMI_Resolve name another front end, or move the corner, gets its own.
        std::optional<PreparedChannel> own;
        if (endsDiffer(cfg, channel.info.ends)) own = prepareChannel(cfg);
        const PreparedChannel& used = own ? *own : channel;
        const LinkResult r = runLink(cfg, used);
        if (!r.stat) throw std::runtime_error("the point gave no statistical eye");
        if (r.channel.ends.analog) p.endsCorner = r.channel.ends.corner;
        p.txFrontEndFile = r.channel.ends.txFrontEndFile;
        p.ok = true;
        p.eyeHeight = r.stat->eyeHeight;
        p.eyeWidth = r.stat->eyeWidth;
        p.rawEyeHeight = r.stat->rawEyeHeight;
        p.modelWarnings = r.tx.warnings.size() + r.rx.warnings.size();
        // the channel's warnings lead amisim's list; every point shares them
        for (std::size_t i = used.warnings.size(); i < r.warnings.size(); ++i)
            p.warnings.push_back("amisim: " + r.warnings[i]);
        if (own)
            for (const std::string& w : own->warnings)
                if (std::find(channel.warnings.begin(), channel.warnings.end(), w) ==
                    channel.warnings.end())
                    p.warnings.push_back("amisim: " + w);
        for (const std::string& w : modelWarnings(r)) p.warnings.push_back(w);
        if (r.tx.paramsValid || r.rx.paramsValid)
            p.paramsValid = r.tx.paramsValid.value_or(true) && r.rx.paramsValid.value_or(true);
        p.adapted = r.adaptedGains;
        p.dfeTaps = dfeTapReport(r.rx.parametersOut);
    } catch (const std::bad_alloc&) {
        p.ok = false;
        p.error = "out of memory";
    } catch (const std::exception& e) {
        p.ok = false;
        p.error = e.what();
    }
    p.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return p;
}

PointProcess startSweepPoint(const LinkConfig& base, const std::vector<SweepAxis>& axes,
                             const std::vector<std::string>& values,
                             const PreparedChannel& channel) {
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error(std::string("cannot create a pipe for a sweep point: ") +
                                 std::strerror(errno));
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        const int e = errno;
        close(fds[0]);
        close(fds[1]);
        throw std::runtime_error(std::string("cannot start a process for a sweep point: ") +
                                 std::strerror(e));
    }
    if (pid == 0) {
        // a job stopped midway (a killed node, a cancelled array task) takes its point along
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(5);
        close(fds[0]);
        std::string text;
        try {
            text = sweepPointToJson(computeSweepPoint(base, axes, values, channel), axes).dump();
        } catch (...) {
            _exit(4);
        }
        writeAll(fds[1], text + "\n");
        close(fds[1]);
        _exit(0);
    }
    close(fds[1]);
    PointProcess proc;
    proc.pid = pid;
    proc.fd = fds[0];
    proc.values = values;
    return proc;
}

bool readSweepPoint(PointProcess& proc) {
    if (proc.fd < 0) return true;
    char buf[8192];
    const ssize_t n = read(proc.fd, buf, sizeof buf);
    if (n > 0) {
        proc.received.append(buf, static_cast<std::size_t>(n));
        return false;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return false;
    close(proc.fd);
    proc.fd = -1;
    return true;
}

SweepPoint finishSweepPoint(PointProcess& proc, const std::vector<SweepAxis>& axes) {
    if (proc.fd >= 0) {
        close(proc.fd);
        proc.fd = -1;
    }
    int status = 0;
    while (waitpid(proc.pid, &status, 0) < 0 && errno == EINTR) {
    }
    SweepPoint p;
    p.values = proc.values;
    p.ran = true;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        const json j = json::parse(proc.received, nullptr, false);
        try {
            SweepPoint got = sweepPointFromJson(j, axes);
            if (got.values == proc.values) return got;
            p.error = "the point's process answered for other values";
        } catch (const std::exception& e) {
            p.error = e.what();
        }
    } else {
        p.error = describeStatus(status);
    }
    return p;
}

SweepPoint runSweepPointIsolated(const LinkConfig& base, const std::vector<SweepAxis>& axes,
                                 const std::vector<std::string>& values,
                                 const PreparedChannel& channel) {
    PointProcess proc = startSweepPoint(base, axes, values, channel);
    const auto start = std::chrono::steady_clock::now();
    while (!readSweepPoint(proc)) {
        pollfd f{proc.fd, POLLIN, 0};
        poll(&f, 1, -1);
    }
    SweepPoint p = finishSweepPoint(proc, axes);
    if (!p.ok && p.seconds == 0)
        p.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return p;
}

}  // namespace amisim
