#pragma once
// A static amplitude curve as a stage of a signal path: every sample x becomes the curve's value
// at x, interpolated linearly between the table points and extrapolated from the end intervals.
// The arithmetic and the choice of interval are those of the "NR3_linear" interpolation, so the
// results are the same to the bit. The interval is looked for next to a first guess: worked out
// from the sample when the inputs are evenly spaced (as characterised curves are), else the
// previous sample's interval, which consecutive waveform samples seldom leave.
#include <cstddef>
#include <vector>

#include "engine/stages/signal_chain.hpp"

class AmplitudeCurveStage : public SignalStage {
  public:
    // `in` strictly ascending or strictly descending, as many points as `out`, at least two; an
    // empty table passes samples unchanged. std::invalid_argument otherwise.
    AmplitudeCurveStage(const std::vector<double>& in, const std::vector<double>& out);

    void Process(double* samples, std::size_t count) override;
    // The same from `in` into `out` (which may be `in`).
    void Apply(const double* in, double* out, std::size_t count);
    // The same without touching the stage (its search starts afresh), so that several threads
    // may use one stage at once; the samples come out the same.
    void Map(const double* in, double* out, std::size_t count) const;

  private:
    // Apply, searching from (and leaving in) `last` where the inputs are not evenly spaced.
    void Evaluate(const double* in, double* out, std::size_t count, std::size_t& last) const;
    // The interval [x[j], x[j+1]] of v: the last j <= n-2 whose point v has reached (in the
    // table's direction), or 0 when there is none; searched for from `guess`.
    std::size_t Interval(double v, std::size_t guess) const;
    bool Reached(double v, std::size_t k) const { return (v >= x_[k]) != descending_; }
    // The interval of v on evenly spaced inputs: the spacing's guess, settled by a comparison
    // or two (the search itself when the guess is further off).
    std::size_t EvenInterval(double v) const;
    // Evenly spaced inputs, four samples at a time on vector registers: the guesses that both
    // neighbouring points confirm are taken at once, a group with any other goes through
    // EvenInterval sample by sample. Returns how many samples it did (whole groups of four).
    std::size_t EvaluateEvenAvx2(const double* in, double* out, std::size_t count) const;
    // Last k in [lo, hi] that v has reached, given that it has reached lo.
    std::size_t LastReached(double v, std::size_t lo, std::size_t hi) const;

    std::vector<double> x_;
    std::vector<double> y_;
    std::vector<double> dx_;  // x[j+1] - x[j]
    std::vector<double> dy_;  // y[j+1] - y[j]
    // The same per interval in one record, so that one load fetches what a sample needs.
    struct Segment {
        double x, y, dx, dy;
    };
    std::vector<Segment> segments_;
    bool descending_ = false;
    bool even_ = false;  // inputs evenly spaced to within a quarter of a step
    double inverseStep_ = 0;
    std::size_t last_ = 0;  // interval of the previous sample
};
