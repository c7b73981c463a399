#pragma once
// Zero crossings of a sampled waveform, the data transitions the clock recovery locks to.
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

enum class EdgeSelection { All, Rising, Falling };

// "Rising", "Falling"; any other text (including "All") selects every crossing.
EdgeSelection ParseEdgeSelection(const std::string& name);

struct TransitionList {
    double initial_polarity = 1.0;  // +1 when the first sample is above 0, else -1
    double sample_count = 0;        // samples examined
    std::vector<double> positions;  // fractional sample indices, increasing
    std::vector<double> levels;     // +0.5 / -0.5: sign of the signal before the crossing, halved
};

// The crossing between consecutive samples a and b under `selection`: false when there is none
// or when either sample is a NaN or an infinity; otherwise the crossing lies `fraction` of the
// way from a to b and its level is the sign of a, halved.
inline bool FindCrossing(double a, double b, EdgeSelection selection, double& fraction,
                         double& level) {
    switch (selection) {
        case EdgeSelection::Rising:
            if (!(a < 0 && b >= 0)) return false;
            level = -0.5;
            break;
        case EdgeSelection::Falling:
            if (!(a > 0 && b <= 0)) return false;
            level = 0.5;
            break;
        case EdgeSelection::All:
            if ((b > 0) == (a > 0)) return false;
            level = a > 0 ? 0.5 : -0.5;
            break;
    }
    const double span = std::fabs(a) + std::fabs(b);
    if (!std::isfinite(span)) return false;
    fraction = std::fabs(a) / span;
    return true;
}

// Crossings of one self-contained block of samples.
TransitionList ExtractTransitions(const std::vector<double>& samples, const std::string& selection);

// The same extraction over a stream cut into blocks: the last sample of each block is kept, so
// a crossing between two blocks is found once, at a position in (-1, 0) of the later block.
// Pairs holding a NaN or an infinity have no usable crossing and are skipped.
class TransitionExtractor {
  public:
    explicit TransitionExtractor(EdgeSelection selection = EdgeSelection::All)
        : selection_(selection) {}

    // Appends the crossings of `samples` to `list` (positions relative to samples[0]).
    void Extract(const double* samples, std::size_t count, TransitionList& list);
    // Forgets the carried sample: the next block starts a new stream.
    void Reset() { havePrevious_ = false; }

  private:
    EdgeSelection selection_;
    bool havePrevious_ = false;
    double previous_ = 0.0;
};
