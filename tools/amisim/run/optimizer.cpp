#include "amisim/run/optimizer.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <stdexcept>

namespace amisim {

namespace {

constexpr std::size_t kMaxAxisCodes = 1000;
constexpr std::size_t kListedWarnings = 20;

std::optional<long long> wholeNumber(const std::string& s) {
    if (s.empty()) return std::nullopt;
    char* end = nullptr;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (*end != '\0') return std::nullopt;
    return v;
}

// The transmitter's integer setting `name` ("tx.NAME" or "NAME").
const AmiParameter& optimizeParameter(const std::string& name, const AmiModelFile& tx,
                                      const AmiModelFile& rx, std::string& bare) {
    if (name.rfind("rx.", 0) == 0)
        throw std::invalid_argument("--optimize: " + name +
                                    " is a receiver parameter; the optimiser searches the "
                                    "transmitter's settings while the receiver adapts");
    bare = name.rfind("tx.", 0) == 0 ? name.substr(3) : name;
    const AmiParameter* p = bare.empty() ? nullptr : tx.find(splitOn(bare, '.'));
    if (!p || !p->isInput()) {
        const AmiParameter* r = bare.empty() ? nullptr : rx.find(splitOn(bare, '.'));
        if (r && r->isInput())
            throw std::invalid_argument("--optimize: " + bare +
                                        " is a receiver parameter; the optimiser searches the "
                                        "transmitter's settings while the receiver adapts");
        throw std::invalid_argument("--optimize: the transmitter has no input parameter '" + bare +
                                    "' (amisim --list-params shows them)");
    }
    if (p->type != "Integer")
        throw std::invalid_argument("--optimize: tx." + bare + " is of type " + p->type +
                                    "; the optimiser steps integer setting codes");
    return *p;
}

std::vector<std::string> codesOf(const AmiParameter& p, const std::string& name) {
    std::vector<std::string> codes;
    if (!p.allowed.empty()) {
        for (const std::string& v : p.allowed) {
            if (!wholeNumber(v))
                throw std::invalid_argument("--optimize: tx." + name + " lists '" + v +
                                            "', which is not an integer");
            codes.push_back(v);
        }
    } else if (p.range) {
        const double lo = p.range->first, hi = p.range->second;
        if (lo != std::floor(lo) || hi != std::floor(hi) || hi < lo)
            throw std::invalid_argument("--optimize: tx." + name +
                                        " has no whole-number range in the .ami file");
        if (hi - lo + 1 > static_cast<double>(kMaxAxisCodes))
            throw std::invalid_argument("--optimize: tx." + name + " has more than " +
                                        std::to_string(kMaxAxisCodes) + " codes");
        for (double v = lo; v <= hi; v += 1) codes.push_back(std::to_string(std::llround(v)));
    } else {
        throw std::invalid_argument("--optimize: tx." + name +
                                    " declares neither a Range nor a List in the .ami file");
    }
    return codes;
}

void limitAxis(SweepAxis& axis, const std::string& text) {
    const std::string range = text.substr(text.find('=') + 1);
    const std::vector<std::string> ab = splitOn(range, ':');
    const auto a = ab.size() == 2 ? wholeNumber(ab[0]) : std::nullopt;
    const auto b = ab.size() == 2 ? wholeNumber(ab[1]) : std::nullopt;
    if (!a || !b || *b < *a)
        throw std::invalid_argument("--optimize-range '" + text +
                                    "' is not NAME=A:B with whole numbers A <= B");
    const long long lo = std::stoll(axis.values.front()), hi = std::stoll(axis.values.back());
    std::vector<std::string> kept;
    for (const std::string& v : axis.values) {
        const long long c = std::stoll(v);
        if (c >= *a && c <= *b) kept.push_back(v);
    }
    if (*a < std::min(lo, hi) || *b > std::max(lo, hi) || kept.empty())
        throw std::invalid_argument("--optimize-range '" + text + "' is outside " + axis.name() +
                                    "'s codes " + axis.values.front() + " .. " +
                                    axis.values.back());
    axis.values = kept;
}

// Squared distance from the grid's middle, each axis scaled to a span of 1 (as a sweep ranks).
double offCentre(const std::vector<std::size_t>& sizes, const std::vector<std::size_t>& at) {
    double d = 0;
    for (std::size_t a = 0; a < sizes.size(); ++a) {
        if (sizes[a] < 2) continue;
        const double n = static_cast<double>(sizes[a] - 1);
        const double x = (static_cast<double>(at[a]) - 0.5 * n) / n;
        d += x * x;
    }
    return d;
}

std::string pointText(const std::vector<SweepAxis>& axes, const std::vector<std::string>& values) {
    std::string s;
    for (std::size_t a = 0; a < axes.size() && a < values.size(); ++a)
        s += (a ? " " : "") + axes[a].name() + "=" + values[a];
    return s;
}

std::vector<std::string> valuesAt(const std::vector<SweepAxis>& axes,
                                  const std::vector<std::size_t>& at) {
    std::vector<std::string> v;
    for (std::size_t a = 0; a < axes.size(); ++a) v.push_back(axes[a].values[at[a]]);
    return v;
}

// Why an evaluated point cannot be the optimum, or empty when it can.
std::string rejection(const SweepPoint& p) {
    if (!p.ok) return "failed: " + p.error;
    if (!p.warnings.empty())
        return "was not accepted: it gave " + std::to_string(p.warnings.size()) + " warning" +
               (p.warnings.size() == 1 ? "" : "s") + ", the first: " + p.warnings.front();
    if (p.modelWarnings > 0 || p.paramsValid == false)
        return "was not accepted: the models found its settings invalid";
    return "";
}

}  // namespace

std::vector<SweepAxis> parseOptimizeAxes(const std::string& names,
                                         const std::vector<std::string>& ranges,
                                         const AmiModelFile& tx, const AmiModelFile& rx) {
    std::vector<SweepAxis> axes;
    for (const std::string& name : splitOn(names, ',')) {
        if (name.empty())
            throw std::invalid_argument("--optimize '" + names +
                                        "' has an empty name; write tx.tap1,tx.ptap1,...");
        std::string bare;
        const AmiParameter& p = optimizeParameter(name, tx, rx, bare);
        SweepAxis axis{"tx", bare, codesOf(p, bare), "setting code"};
        for (const SweepAxis& a : axes)
            if (a.name() == axis.name())
                throw std::invalid_argument("--optimize names " + axis.name() + " twice");
        checkSweepValues(axis, tx);
        axes.push_back(std::move(axis));
    }
    std::vector<bool> limited(axes.size(), false);
    for (const std::string& text : ranges) {
        const auto eq = text.find('=');
        const std::string name = eq == std::string::npos ? text : text.substr(0, eq);
        const std::string bare = name.rfind("tx.", 0) == 0 ? name.substr(3) : name;
        std::size_t k = 0;
        while (k < axes.size() && axes[k].parameter != bare) ++k;
        if (eq == std::string::npos || k == axes.size())
            throw std::invalid_argument("--optimize-range '" + text +
                                        "' does not limit a setting that --optimize names "
                                        "(NAME=A:B)");
        if (limited[k])
            throw std::invalid_argument("--optimize-range limits " + axes[k].name() + " twice");
        limited[k] = true;
        limitAxis(axes[k], text);
    }
    return axes;
}

std::vector<std::size_t> optimizeStart(const std::vector<SweepAxis>& axes, const LinkConfig& base,
                                       const AmiModelFile& tx) {
    std::vector<std::size_t> start;
    for (const SweepAxis& a : axes) {
        std::optional<std::string> v;
        if (const AmiParameter* p = tx.find(splitOn(a.parameter, '.'))) v = p->defaultValue;
        for (const ParamOverride& o : base.txOverrides)
            if (o.name == a.parameter) v = o.value;
        std::size_t best = 0;
        if (const auto code = v ? wholeNumber(*v) : std::nullopt) {
            long long bestGap = -1;
            for (std::size_t i = 0; i < a.values.size(); ++i) {
                const long long gap = std::llabs(std::stoll(a.values[i]) - *code);
                if (bestGap < 0 || gap < bestGap) {
                    best = i;
                    bestGap = gap;
                }
            }
        }
        start.push_back(best);
    }
    return start;
}

SearchOutcome coordinateSearch(const std::vector<std::size_t>& sizes,
                               const std::vector<std::size_t>& start,
                               const BatchEvaluator& evaluate) {
    if (sizes.size() != start.size() || sizes.empty())
        throw std::invalid_argument("the search needs a start code on every axis");
    for (std::size_t a = 0; a < sizes.size(); ++a)
        if (start[a] >= sizes[a]) throw std::invalid_argument("the search starts off its grid");
    SearchOutcome out;
    std::map<std::vector<std::size_t>, SearchScore> seen;
    auto score = [&](const std::vector<std::vector<std::size_t>>& points) {
        std::vector<std::vector<std::size_t>> fresh;
        for (const auto& p : points)
            if (!seen.count(p) && std::find(fresh.begin(), fresh.end(), p) == fresh.end())
                fresh.push_back(p);
        if (fresh.empty()) return;
        const std::vector<SearchScore> got = evaluate(fresh, out.rounds);
        if (got.size() != fresh.size())
            throw std::logic_error("the search's evaluator answered for other points");
        for (std::size_t i = 0; i < fresh.size(); ++i) seen[fresh[i]] = got[i];
        out.evaluations += fresh.size();
    };
    auto better = [&](const std::vector<std::size_t>& a, const std::vector<std::size_t>& b) {
        const SearchScore &x = seen.at(a), &y = seen.at(b);
        if (!x.eligible) return false;
        if (!y.eligible) return true;
        const double tol = 1e-9 * std::max(std::abs(x.score), std::abs(y.score));
        if (x.score > y.score + tol) return true;
        return std::abs(x.score - y.score) <= tol && offCentre(sizes, a) < offCentre(sizes, b);
    };
    std::vector<std::size_t> at = start;
    score({at});
    out.positions.push_back(at);
    // every move is to a strictly better point, so the walk cannot exceed the grid
    std::uint64_t grid = 1;
    for (std::size_t n : sizes) grid = std::min<std::uint64_t>(grid * n, std::uint64_t{1} << 40);
    bool moved = true;
    while (moved && out.positions.size() <= grid) {
        moved = false;
        ++out.rounds;
        for (std::size_t axis = 0; axis < sizes.size(); ++axis) {
            for (;;) {
                std::vector<std::vector<std::size_t>> candidates;
                for (int step : {-1, +1}) {
                    if ((step < 0 && at[axis] == 0) || (step > 0 && at[axis] + 1 >= sizes[axis]))
                        continue;
                    candidates.push_back(at);
                    candidates.back()[axis] += static_cast<std::size_t>(step);
                }
                score(candidates);
                const std::vector<std::size_t>* next = nullptr;
                for (const auto& c : candidates)
                    if (better(c, next ? *next : at)) next = &c;
                if (!next) break;
                at = *next;
                out.positions.push_back(at);
                moved = true;
            }
        }
    }
    if (seen.at(at).eligible) out.best = at;
    return out;
}

OptimizeResult runOptimize(const LinkConfig& base, const std::vector<SweepAxis>& axes,
                           const std::vector<std::size_t>& start, int jobs,
                           SweepObjective objective) {
    const auto began = std::chrono::steady_clock::now();
    OptimizeResult res;
    res.axes = axes;
    res.objective = objective;
    res.jobs = jobs;
    res.start = valuesAt(axes, start);
    std::vector<std::size_t> sizes;
    res.gridPoints = 1;
    for (const SweepAxis& a : axes) {
        sizes.push_back(a.values.size());
        // saturates: a grid that large is only ever named, never run
        const std::uint64_t n = a.values.size();
        res.gridPoints = res.gridPoints > UINT64_MAX / n ? UINT64_MAX : res.gridPoints * n;
    }
    const PreparedChannel channel = prepareSweepChannel(base);
    std::map<std::vector<std::size_t>, std::size_t> where;  // code indices -> path entry
    const BatchEvaluator evaluate = [&](const std::vector<std::vector<std::size_t>>& batch,
                                        int round) {
        std::vector<std::vector<std::string>> values;
        for (const auto& at : batch) values.push_back(valuesAt(axes, at));
        std::vector<SweepPoint> got(batch.size());
        runPointValues(base, axes, channel, values, jobs, false,
                       [&](std::size_t k, const SweepPoint& p) { got[k] = p; });
        std::vector<SearchScore> scores;
        for (std::size_t k = 0; k < batch.size(); ++k) {
            OptimizeEvaluation e;
            e.point = got[k];
            e.round = round;
            const double figure = sweepScore(e.point, objective);
            e.eligible =
                sweepPointEligible(e.point) && (objective != SweepObjective::Area || figure > 0);
            e.figure = e.eligible ? figure : 0;
            where[batch[k]] = res.path.size();
            res.path.push_back(e);
            scores.push_back(SearchScore{e.eligible, e.figure});
            if (!base.quiet) {
                char line[160];
                std::snprintf(line, sizeof line, ": %.2f mV, %.3f UI, figure %.6g%s",
                              e.point.eyeHeight * 1e3, e.point.eyeWidth, e.figure,
                              e.eligible ? "" : " (not accepted)");
                std::cerr << "amisim: optimise: evaluation " << res.path.size() << " (round "
                          << round << "): " << pointText(axes, e.point.values)
                          << (e.point.ok ? line : ": failed: " + e.point.error) << "\n";
            }
        }
        return scores;
    };
    const SearchOutcome outcome = coordinateSearch(sizes, start, evaluate);
    res.rounds = outcome.rounds;
    for (const auto& at : outcome.positions) res.path[where.at(at)].visited = true;
    if (outcome.best) res.best = where.at(*outcome.best);
    std::size_t listed = 0, unlisted = 0;
    for (const OptimizeEvaluation& e : res.path) {
        if (e.eligible) continue;
        const std::string why = rejection(e.point);
        if (why.empty()) continue;  // ran cleanly to a closed eye: a figure of 0, no warning
        if (listed++ < kListedWarnings)
            res.warnings.push_back("optimiser point " + pointText(axes, e.point.values) + " " +
                                   why);
        else
            ++unlisted;
    }
    if (unlisted > 0)
        res.warnings.push_back("... and " + std::to_string(unlisted) +
                               " more optimiser points failed or warned (report.json lists all)");
    if (!res.best)
        res.warnings.push_back(
            "the optimiser found no point without a failure or warning and with an open eye: "
            "the link is run at the base settings");
    res.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    return res;
}

}  // namespace amisim
