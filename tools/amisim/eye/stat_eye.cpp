#include "amisim/eye/stat_eye.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace amisim {

namespace {

// Linear interpolation of the pulse at a fractional sample position; zero outside it.
double pulseAt(const std::vector<double>& p, double x) {
    if (x <= -1.0 || x >= static_cast<double>(p.size())) return 0.0;
    const double fl = std::floor(x);
    const long i = static_cast<long>(fl);
    const double f = x - fl;
    const double a = i >= 0 ? p[static_cast<std::size_t>(i)] : 0.0;
    const double b = i + 1 < static_cast<long>(p.size()) ? p[static_cast<std::size_t>(i + 1)] : 0.0;
    return a + f * (b - a);
}

// Distribution of sampling-time offsets on a grid of `step` seconds, index 0 at offset -span.
// Nothing reaches beyond `maxSpan` steps either side: what would is cut off (and `cut` set).
std::vector<double> jitterWeights(const JitterBudget& j, double step, int maxSpan, int& span,
                                  bool& cut) {
    std::vector<double> w{1.0};
    span = 0;
    cut = false;
    // the kernels are sparse (two Diracs) or short, so only their non-zero entries are visited
    auto convolve = [&](const std::vector<double>& k, int kspan) {
        std::vector<double> out(w.size() + k.size() - 1, 0.0);
        for (std::size_t b = 0; b < k.size(); ++b) {
            if (k[b] == 0.0) continue;
            for (std::size_t a = 0; a < w.size(); ++a) out[a + b] += w[a] * k[b];
        }
        w = std::move(out);
        span += kspan;
    };
    if (j.rjRms > 0) {
        int s = static_cast<int>(std::ceil(8 * j.rjRms / step));
        if (s > maxSpan) {
            s = maxSpan;
            cut = true;
        }
        std::vector<double> g(static_cast<std::size_t>(2 * s + 1));
        auto cdf = [&](double t) { return 0.5 * std::erfc(-t / (j.rjRms * std::sqrt(2.0))); };
        double sum = 0;
        for (int i = -s; i <= s; ++i) {
            g[static_cast<std::size_t>(i + s)] = cdf((i + 0.5) * step) - cdf((i - 0.5) * step);
            sum += g[static_cast<std::size_t>(i + s)];
        }
        for (double& v : g) v /= sum;
        convolve(g, s);
    }
    for (double pp : {j.djPp, j.dcdPp}) {
        if (!(pp > 0)) continue;
        double x = pp / 2 / step;  // Diracs at +-x grid steps, split between neighbours
        if (x > maxSpan) {
            x = maxSpan;
            cut = true;
        }
        const int s = static_cast<int>(std::ceil(x));
        std::vector<double> d(static_cast<std::size_t>(2 * s + 1), 0.0);
        const int lo = static_cast<int>(std::floor(x));
        const double f = x - lo;
        for (int sign : {-1, 1}) {
            d[static_cast<std::size_t>(s + sign * lo)] += 0.5 * (1 - f);
            if (f > 0) d[static_cast<std::size_t>(s + sign * (lo + 1))] += 0.5 * f;
        }
        convolve(d, s);
    }
    // the combined span is cut too: the far ends of the sum carry little weight
    if (span > maxSpan) {
        const int extra = span - maxSpan;
        std::vector<double> kept(w.begin() + extra, w.end() - extra);
        double sum = 0;
        for (double v : kept) sum += v;
        for (double& v : kept) v /= sum;
        w = std::move(kept);
        span = maxSpan;
        cut = true;
    }
    return w;
}

// Cumulative distribution of the interference at one sampling phase, on the voltage grid.
struct PhaseDistribution {
    double main = 0;
    std::vector<double> cdf;  // P(isi <= grid voltage)
};

}  // namespace

PulseResponse makePulse(const std::vector<double>& impulse, double sampleInterval,
                        int samplesPerBit, double amplitude) {
    if (samplesPerBit < 1) throw std::invalid_argument("samples per bit must be positive");
    PulseResponse p;
    p.sampleInterval = sampleInterval;
    p.samplesPerBit = samplesPerBit;
    p.samples.assign(impulse.size(), 0.0);
    double run = 0;
    const std::size_t spb = static_cast<std::size_t>(samplesPerBit);
    for (std::size_t i = 0; i < impulse.size(); ++i) {
        run += impulse[i];
        if (i >= spb) run -= impulse[i - spb];
        p.samples[i] = run * sampleInterval * amplitude;
    }
    std::size_t first = 0;
    for (std::size_t i = 1; i < p.samples.size(); ++i)
        if (p.samples[i] > p.samples[first]) first = i;
    // a flat top (an ideal channel) has its main cursor in the middle of the plateau
    std::size_t last = first;
    const double top = p.samples.empty() ? 0.0 : p.samples[first];
    while (last + 1 < p.samples.size() && p.samples[last + 1] >= top - 1e-9 * std::abs(top)) ++last;
    p.mainIndex = (first + last) / 2;
    return p;
}

StatEyeResult computeStatEye(const PulseResponse& pulse, const StatEyeOptions& opt) {
    if (pulse.samples.size() < 2 || pulse.samplesPerBit < 1)
        throw std::invalid_argument("the pulse response is empty");
    if (!(opt.ber > 0 && opt.ber < 0.5))
        throw std::invalid_argument("the BER must lie in (0, 0.5)");
    const int P = std::max(4, opt.phasesPerUi);
    const int B = std::max(65, opt.voltageBins | 1);  // odd: zero sits on the centre bin
    const double spb = pulse.samplesPerBit;
    const double bitTime = spb * pulse.sampleInterval;
    const double stepSamples = spb / P;
    int J = 0;
    bool jitterCut = false;
    const int maxSpan = static_cast<int>(std::ceil(kMaxJitterSpanUi * P));
    const std::vector<double> w = jitterWeights(opt.jitter, bitTime / P, maxSpan, J, jitterCut);

    // grid phases g = -P-J .. P+J-1 (steps from the main cursor)
    const int G0 = -P - J, G1 = P + J;
    const std::vector<double>& p = pulse.samples;
    const double m = static_cast<double>(pulse.mainIndex);
    const int kmin =
        -static_cast<int>(std::ceil((m + P * stepSamples + J * stepSamples) / spb)) - 1;
    const int kmax = static_cast<int>(std::ceil(static_cast<double>(p.size()) / spb)) + 1;
    std::vector<std::vector<double>> cursors;
    double vmax = 0;
    for (int g = G0; g < G1; ++g) {
        std::vector<double> c;
        double sum = 0;
        const double pos0 = m + g * stepSamples;
        for (int k = kmin; k <= kmax; ++k) {
            const double v = pulseAt(p, pos0 + k * spb);
            c.push_back(v);
            sum += std::abs(v);
        }
        vmax = std::max(vmax, sum);
        cursors.push_back(std::move(c));
    }
    vmax = vmax * 1.02 + 1e-12;
    const double dv = 2 * vmax / (B - 1);
    const int centre = (B - 1) / 2;

    std::vector<PhaseDistribution> dist;
    dist.reserve(cursors.size());
    // pmf lives in the middle of a zero margin of B bins either side: a shift reads past the
    // support without a bounds test, and what lies outside the support is zero
    std::vector<double> padded(static_cast<std::size_t>(3 * B)), next(static_cast<std::size_t>(B));
    double* const pmf = padded.data() + B;
    const int totalPhases = static_cast<int>(cursors.size());
    for (const std::vector<double>& c : cursors) {
        if (opt.progress && dist.size() % 16 == 0)
            opt.progress(static_cast<int>(dist.size()), totalPhases);
        PhaseDistribution d;
        d.main = c[static_cast<std::size_t>(-kmin)];
        std::fill(padded.begin(), padded.end(), 0.0);
        pmf[centre] = 1.0;
        int lo = centre, hi = centre;  // support of pmf
        double smallVariance = 0;      // in bins squared
        for (std::size_t k = 0; k < c.size(); ++k) {
            if (static_cast<int>(k) == -kmin) continue;
            const double shift = std::abs(c[k]) / dv;
            // Cursors below one voltage bin (the long tail of a lossy channel, hundreds of
            // them) are taken together as one Gaussian of the same variance: their sum is
            // close to Gaussian, bounded in its far tails, and one convolution is fast.
            if (shift < 1.0) {
                smallVariance += shift * shift;
                continue;
            }
            const int a = static_cast<int>(std::floor(shift));  // at most (B - 1) / 2
            const double f = shift - a;
            const int nlo = std::max(0, lo - a - 1), nhi = std::min(B - 1, hi + a + 1);
            for (int i = nlo; i <= nhi; ++i) {
                // half the mass moves up by `shift` bins, half down
                const double up = (1 - f) * pmf[i - a] + f * pmf[i - a - 1];
                const double down = (1 - f) * pmf[i + a] + f * pmf[i + a + 1];
                next[static_cast<std::size_t>(i)] = 0.5 * (up + down);
            }
            std::copy(next.begin() + nlo, next.begin() + nhi + 1, pmf + nlo);
            lo = nlo;
            hi = nhi;
        }
        if (smallVariance > 1e-6) {
            const double sigma = std::sqrt(smallVariance);
            const int span = static_cast<int>(std::ceil(8 * sigma)) + 1;
            std::vector<double> kernel(static_cast<std::size_t>(2 * span + 1));
            auto cdf = [&](double x) { return 0.5 * std::erfc(-x / (sigma * std::sqrt(2.0))); };
            for (int i = -span; i <= span; ++i)
                kernel[static_cast<std::size_t>(i + span)] = cdf(i + 0.5) - cdf(i - 0.5);
            const int nlo = std::max(0, lo - span), nhi = std::min(B - 1, hi + span);
            for (int i = nlo; i <= nhi; ++i) {
                // only the sources inside the support count
                const int j0 = std::max(-span, i - hi), j1 = std::min(span, i - lo);
                double acc = 0;
                for (int j = j0; j <= j1; ++j)
                    acc += kernel[static_cast<std::size_t>(j + span)] * pmf[i - j];
                next[static_cast<std::size_t>(i)] = acc;
            }
            std::copy(next.begin() + nlo, next.begin() + nhi + 1, pmf + nlo);
            lo = nlo;
            hi = nhi;
        }
        d.cdf.resize(static_cast<std::size_t>(B));
        double run = 0;
        for (int i = 0; i < B; ++i) {
            run += pmf[i];
            d.cdf[static_cast<std::size_t>(i)] = run;
        }
        dist.push_back(std::move(d));
    }

    if (opt.progress) opt.progress(totalPhases, totalPhases);

    // P(isi <= y) between grid points; the mass of bin i sits at its centre, so the cdf
    // rises linearly across the bin.
    auto cdfAt = [&](const std::vector<double>& cdf, double y) {
        const double x = (y + vmax) / dv + 0.5;  // upper edge of bin i is at x = i + 1
        if (x <= 0) return 0.0;
        if (x >= B) return 1.0;
        const int i = static_cast<int>(x);
        const double f = x - i;
        const double below = i > 0 ? cdf[static_cast<std::size_t>(i - 1)] : 0.0;
        return below + f * (cdf[static_cast<std::size_t>(i)] - below);
    };

    StatEyeResult r;
    r.jitterCut = jitterCut;
    for (double level = 1e-3; level > opt.ber * 1.0000001; level *= 1e-3)
        r.contours.push_back(BerContour{level, {}});
    r.contours.push_back(BerContour{opt.ber, {}});
    r.voltageBins = B;
    r.vMin = -vmax;
    r.vMax = vmax;
    if (!opt.figuresOnly) r.density.assign(static_cast<std::size_t>(2 * P * B), 0.0);
    if (opt.figuresOnly) r.contours.clear();
    // edges[e]: the mixture's cdf at the lower edge of bin e; computed when first asked for
    // (a phase's figures need a dozen of them, its density all)
    std::vector<double> edges(static_cast<std::size_t>(B + 1));
    std::vector<char> known(static_cast<std::size_t>(B + 1));
    int phase = 0;
    auto edgeAt = [&](int e) {
        if (known[static_cast<std::size_t>(e)]) return edges[static_cast<std::size_t>(e)];
        // mixture over the jitter: F(x) = sum_j w_j P(main_g + isi_g <= x)
        const double x = -vmax + (e - 0.5) * dv;
        double F = 0;
        for (std::size_t j = 0; j < w.size(); ++j) {
            const int g = phase + static_cast<int>(j) - J;
            const PhaseDistribution& d = dist[static_cast<std::size_t>(g - G0)];
            F += w[j] * cdfAt(d.cdf, x - d.main);
        }
        known[static_cast<std::size_t>(e)] = 1;
        return edges[static_cast<std::size_t>(e)] = F;
    };
    for (int i = -P; i < P; ++i) {
        phase = i;
        std::fill(known.begin(), known.end(), 0);
        if (!opt.figuresOnly)
            for (int e = 0; e <= B; ++e) edgeAt(e);
        // inner boundary of the "1" level: the voltage below which the BER is reached
        auto innerAt = [&](double ber) {
            // the first edge at or above the BER among edges 1 .. B (they rise monotonically)
            int lo = 1, hi = B + 1;
            while (lo < hi) {
                const int mid = lo + (hi - lo) / 2;
                if (edgeAt(mid) < ber)
                    lo = mid + 1;
                else
                    hi = mid;
            }
            if (lo == B + 1) return -vmax - 0.5 * dv;
            const int e = lo;
            const double a = edgeAt(e - 1), b = edgeAt(e);
            const double t = b > a ? (ber - a) / (b - a) : 0.0;
            return -vmax + (e - 1.0 + std::clamp(t, 0.0, 1.0)) * dv;
        };
        const double v1 = innerAt(opt.ber);
        r.phaseUi.push_back(static_cast<double>(i) / P);
        r.opening.push_back(2 * v1);
        if (opt.figuresOnly) continue;
        for (BerContour& c : r.contours) c.inner.push_back(innerAt(c.ber));
        // an error is a "1" at or below 0 V (the "0" level mirrors it): F(0), halfway between
        // the edges either side of the centre bin's middle
        r.bathtub.push_back(0.5 * (edges[static_cast<std::size_t>(centre)] +
                                   edges[static_cast<std::size_t>(centre + 1)]));
        const std::size_t row = static_cast<std::size_t>(i + P) * static_cast<std::size_t>(B);
        for (int l = 0; l < B; ++l) {
            // the "0" level mirrors the "1" level; each carries half the probability
            const double q1 =
                edges[static_cast<std::size_t>(l + 1)] - edges[static_cast<std::size_t>(l)];
            const int m2 = B - 1 - l;
            const double q0 =
                edges[static_cast<std::size_t>(m2 + 1)] - edges[static_cast<std::size_t>(m2)];
            r.density[row + static_cast<std::size_t>(l)] = 0.5 * (q1 + q0);
        }
    }

    const auto best = std::max_element(r.opening.begin(), r.opening.end());
    const std::size_t bi = static_cast<std::size_t>(best - r.opening.begin());
    r.rawEyeHeight = *best;
    r.bestPhaseUi = r.phaseUi[bi];
    // rounding noise of an opening that is really zero must not count as an open eye
    const double need = 2 * opt.sensitivity + 1e-9 * vmax;
    r.eyeHeight = *best > need ? *best - 2 * opt.sensitivity : 0.0;
    if (*best > need) {
        std::size_t a = bi, b = bi;
        while (a > 0 && r.opening[a - 1] > need) --a;
        while (b + 1 < r.opening.size() && r.opening[b + 1] > need) ++b;
        r.eyeWidth = static_cast<double>(b - a + 1) / P;
    }
    return r;
}

}  // namespace amisim
