#include "amisim/eye/stimulus.hpp"

#include <algorithm>
#include <cmath>

namespace amisim {

NrzStimulus::NrzStimulus(const std::vector<bool>& bits, int samplesPerBit, double sampleInterval,
                         double amplitude, const EdgeJitter& jitter, std::uint64_t seed)
    : bits_(bits),
      spb_(samplesPerBit),
      dt_(sampleInterval),
      amplitude_(amplitude),
      jitter_(jitter),
      rng_(seed) {}

double NrzStimulus::level(std::uint64_t k) const {
    if (bits_.empty()) return 0.0;
    k = std::min<std::uint64_t>(k, bits_.size() - 1);
    return bits_[static_cast<std::size_t>(k)] ? amplitude_ : -amplitude_;
}

double NrzStimulus::drawEdge(std::uint64_t k) {
    if (!jitter_.any()) return 0.0;
    // draw for every bit boundary, so the sequence does not depend on the data
    double t = jitter_.rjRms * normal_(rng_);
    const bool late = (rng_() & 1u) != 0;
    t += late ? jitter_.dj : -jitter_.dj;
    if (k > 0 && k < bits_.size()) {
        const double before = level(k - 1), after = level(k);
        if (after > before) t += jitter_.dcd;
        if (after < before) t -= jitter_.dcd;
    }
    const double limit = 0.45 * spb_;
    return std::clamp(t / dt_, -limit, limit);
}

void NrzStimulus::next(std::uint64_t count, std::vector<double>& wave) {
    const std::size_t spb = static_cast<std::size_t>(spb_);
    wave.resize(static_cast<std::size_t>(count) * spb);
    for (std::uint64_t b = 0; b < count; ++b) {
        const std::uint64_t k = nextBit_ + b;
        const double prev = k > 0 ? level(k - 1) : level(k);
        const double cur = level(k), nxt = level(k + 1);
        const double e0 = startEdge_;
        const double e1 = spb_ + drawEdge(k + 1);
        double* out = wave.data() + static_cast<std::size_t>(b) * spb;
        for (std::size_t u = 0; u < spb; ++u) {
            const double x = static_cast<double>(u);
            double v = cur;
            if (e0 > x) v += std::min(1.0, e0 - x) * (prev - cur);
            if (e1 < x + 1) v += std::min(1.0, x + 1 - e1) * (nxt - cur);
            out[u] = v;
        }
        startEdge_ = e1 - spb_;
    }
    nextBit_ += count;
}

}  // namespace amisim
