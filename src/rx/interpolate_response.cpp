#include <algorithm>
#include <cmath>

#include "rx/ami_rx_fft_mult.hpp"
#include "rx/stage_response.hpp"

namespace {

constexpr double kTwoPi = 2.0 * M_PI;
// Intervals at the top of a stage response that set the phase slope above it.
constexpr std::size_t kSlopeIntervals = 10;
// Bins between fresh phasors on a grid: the rotation's rounding stays in the last few places.
constexpr std::size_t kRotationRun = 16;

// Phase of point k relative to point k-1, keeping a step from negative to positive phase
// (above the first interval) on the continuous branch.
double UnwrappedNext(double previous, double next, std::size_t k) {
    if (previous < 0 && next > 0 && k > 1) next -= kTwoPi;
    return next;
}

}  // namespace

namespace v10kx_ami_rx {

StageSampler::StageSampler(const StageResponse& stage) : points_(stage) {
    const std::size_t m = stage.size();
    magnitudes_.reserve(m);
    phases_.reserve(m);
    for (const StagePoint& p : stage) {
        magnitudes_.push_back(std::abs(p.second));
        phases_.push_back(std::atan2(p.second.imag(), p.second.real()));
    }
    if (m == 0) return;
    // Responses shorter than the usual slope window use every interval they have.
    const std::size_t last = m - 1;
    const std::size_t first = m > kSlopeIntervals ? last - kSlopeIntervals : 0;
    double sum = 0;
    for (std::size_t j = first; j < last; ++j) {
        sum += UnwrappedNext(phases_[j], phases_[j + 1], j + 1) - phases_[j];
    }
    const double span = stage[last].first - stage[first].first;
    topSlope_ = span > 0 ? sum / span : 0.0;
}

std::complex<double> StageSampler::operator()(double f) const {
    const StageResponse& stage = points_;
    const std::size_t m = stage.size();
    if (m == 0) return {1.0, 0.0};
    if (f <= stage.front().first) return stage.front().second;

    const std::size_t last = m - 1;
    double magnitude = 0;
    double phase = 0;
    if (f < stage[last].first) {
        // First k >= 1 with f_k >= f.
        auto it = std::lower_bound(stage.begin() + 1, stage.end(), f,
                                   [](const StagePoint& p, double v) { return p.first < v; });
        const std::size_t k = static_cast<std::size_t>(it - stage.begin());
        const double t = (f - stage[k - 1].first) / (stage[k].first - stage[k - 1].first);
        magnitude = magnitudes_[k - 1] + t * (magnitudes_[k] - magnitudes_[k - 1]);
        const double pa = phases_[k - 1];
        const double pb = UnwrappedNext(pa, phases_[k], k);
        phase = pa + t * (pb - pa);
    } else {
        // First-order roll-off with the phase slope of the top intervals.
        const double fLast = stage[last].first;
        magnitude = fLast * magnitudes_[last] / f;
        phase = phases_[last] + topSlope_ * (f - fLast);
    }
    return {magnitude * std::cos(phase), magnitude * std::sin(phase)};
}

namespace {

// The bins [first, last) of a stretch whose magnitude at f is magnitude(f) and whose phase is
// phase0 + slope * (f - f0).
template <class Magnitude>
void SampleRun(std::size_t first, std::size_t last, double spacing, double f0, double phase0,
               double slope, Magnitude magnitude, std::complex<double>* out) {
    const double step = slope * spacing;
    const std::complex<double> turn(std::cos(step), std::sin(step));
    std::complex<double> phasor;
    for (std::size_t k = first; k < last; ++k) {
        const double f = static_cast<double>(k) * spacing;
        if ((k - first) % kRotationRun == 0) {
            const double phase = phase0 + slope * (f - f0);
            phasor = {std::cos(phase), std::sin(phase)};
        } else {
            // Written out: std::complex multiplication checks for infinities on every call.
            phasor = {phasor.real() * turn.real() - phasor.imag() * turn.imag(),
                      phasor.real() * turn.imag() + phasor.imag() * turn.real()};
        }
        const double m = magnitude(f);
        out[k] = {m * phasor.real(), m * phasor.imag()};
    }
}

}  // namespace

void StageSampler::SampleGrid(double spacing, std::size_t count, std::complex<double>* out) const {
    const StageResponse& stage = points_;
    const std::size_t m = stage.size();
    std::size_t k = 0;
    if (m == 0) {
        std::fill(out, out + count, std::complex<double>(1.0, 0.0));
        return;
    }
    auto binAt = [spacing](std::size_t j) { return static_cast<double>(j) * spacing; };
    for (; k < count && binAt(k) <= stage.front().first; ++k) out[k] = stage.front().second;

    const std::size_t last = m - 1;
    const double fLast = stage[last].first;
    // Interval by interval: the bins above f_(j-1) up to f_j (and below the last point).
    for (std::size_t j = 1; j < m && k < count && binAt(k) < fLast; ++j) {
        const double fa = stage[j - 1].first;
        const double fb = stage[j].first;
        std::size_t end = k;
        while (end < count && binAt(end) <= fb && binAt(end) < fLast) ++end;
        if (end == k) continue;
        const double pa = phases_[j - 1];
        const double pb = UnwrappedNext(pa, phases_[j], j);
        const double ma = magnitudes_[j - 1];
        const double mb = magnitudes_[j];
        const double width = fb - fa;
        SampleRun(
            k, end, spacing, fa, pa, (pb - pa) / width,
            [=](double f) { return ma + (f - fa) / width * (mb - ma); }, out);
        k = end;
    }
    // Above the last point: first-order roll-off with the top phase slope.
    const double top = fLast * magnitudes_[last];
    SampleRun(
        k, count, spacing, fLast, phases_[last], topSlope_, [top](double f) { return top / f; },
        out);
}

}  // namespace v10kx_ami_rx

std::complex<double> AmiRxFFTMult::InterpolateResponse(const StageResponse& stage, double f) {
    return v10kx_ami_rx::StageSampler(stage)(f);
}
