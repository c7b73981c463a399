// Which sweep point is best, and what the sweep has to warn about.
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "amisim/run/sweep.hpp"

namespace amisim {

namespace {

constexpr std::size_t kListedPointWarnings = 20;

std::string pointName(const SweepResult& sw, std::size_t i) {
    std::string s = "sweep point " + std::to_string(i) + " (";
    for (std::size_t a = 0; a < sw.axes.size() && a < sw.points[i].values.size(); ++a)
        s += (a ? " " : "") + sw.axes[a].name() + "=" + sw.points[i].values[a];
    return s + ")";
}

// Squared distance from the middle of the grid, each axis scaled to a span of 1.
double offCentre(const SweepResult& sw, std::size_t i) {
    double d = 0;
    std::size_t rest = i;
    for (std::size_t a = sw.axes.size(); a-- > 0;) {
        const std::size_t n = sw.axes[a].values.size();
        const std::size_t k = rest % n;
        rest /= n;
        if (n > 1) {
            const double x = (static_cast<double>(k) - 0.5 * static_cast<double>(n - 1)) /
                             static_cast<double>(n - 1);
            d += x * x;
        }
    }
    return d;
}

}  // namespace

bool sweepPointEligible(const SweepPoint& p) {
    return p.ran && p.ok && p.warnings.empty() && p.modelWarnings == 0 &&
           p.paramsValid.value_or(true);
}

SweepObjective parseObjective(const std::string& text) {
    if (text == "area") return SweepObjective::Area;
    if (text == "height") return SweepObjective::Height;
    if (text == "width") return SweepObjective::Width;
    throw std::invalid_argument("--objective: '" + text + "' is not height, width or area");
}

const char* objectiveName(SweepObjective o) {
    switch (o) {
        case SweepObjective::Height:
            return "height";
        case SweepObjective::Width:
            return "width";
        case SweepObjective::Area:
            break;
    }
    return "area";
}

double sweepScore(const SweepPoint& p, SweepObjective objective) {
    switch (objective) {
        case SweepObjective::Height:
            return p.eyeHeight;
        case SweepObjective::Width:
            return p.eyeWidth;
        case SweepObjective::Area:
            break;
    }
    // a closed eye has no area, however wide or tall its other side
    return p.eyeHeight > 0 && p.eyeWidth > 0 ? p.eyeHeight * p.eyeWidth : 0.0;
}

void rankSweep(SweepResult& sw) {
    sw.best.reset();
    std::size_t listed = 0, unlisted = 0;
    auto warn = [&](const std::string& w) {
        if (listed < kListedPointWarnings) {
            sw.warnings.push_back(w);
            ++listed;
        } else {
            ++unlisted;
        }
    };
    double bestScore = 0, bestOff = 0;
    for (std::size_t i = 0; i < sw.points.size(); ++i) {
        const SweepPoint& p = sw.points[i];
        if (!p.ran) {
            warn(pointName(sw, i) + " has no result: it has not run, or its run was lost");
            continue;
        }
        if (!p.ok) {
            warn(pointName(sw, i) + " failed: " + p.error);
            continue;
        }
        if (!p.warnings.empty())
            warn(pointName(sw, i) + " gave " + std::to_string(p.warnings.size()) + " warning" +
                 (p.warnings.size() == 1 ? "" : "s") + ", the first: " + p.warnings.front());
        else if (p.modelWarnings > 0 || p.paramsValid == false)
            warn(pointName(sw, i) + ": the models found its settings invalid");
        if (!sweepPointEligible(p)) continue;
        const double score = sweepScore(p, sw.objective);
        if (sw.objective == SweepObjective::Area && !(score > 0)) continue;
        const double off = offCentre(sw, i);
        const double tol = 1e-9 * std::max(std::abs(score), std::abs(bestScore));
        if (!sw.best || score > bestScore + tol ||
            (std::abs(score - bestScore) <= tol && off < bestOff)) {
            sw.best = i;
            bestScore = score;
            bestOff = off;
        }
    }
    if (unlisted > 0)
        sw.warnings.push_back("... and " + std::to_string(unlisted) +
                              " more sweep points failed or warned (sweep.csv lists them all)");
}

}  // namespace amisim
