#pragma once
// Zero crossings of a sampled waveform, the data transitions the clock recovery locks to.
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
