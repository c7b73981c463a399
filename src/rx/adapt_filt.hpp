#pragma once
// Adaptive FIR filter of the DFE: the weighted sum of the last L decided levels, with weights
// moved by a block least-mean-squares rule (the mean gradient of the updates since the last
// apply) and kept within per-tap limits.
#include <cstddef>
#include <vector>

class AdaptFilt {
  public:
    // Limits per tap; `length` taps. Clamping keeps every applied weight within its limits.
    AdaptFilt(double stepSize, std::size_t length, std::vector<double> upperLimit,
              std::vector<double> lowerLimit, bool clamp = true);

    // Weights in tap order; taps beyond the list become 0, extra entries are ignored.
    void SetWeights(const std::vector<double>& weights);

    // One decided bit: the level x it was decided at, its error and the adaptation gain. When
    // `apply` is set the accumulated gradient moves the weights. Then x enters the delay line.
    void Update(double x, double error, bool apply, double gain);
    // x enters the delay line; nothing is learnt.
    void Shift(double x);

    // The feedback: sum of weight_i times the level decided i bits before the next one.
    double Output() const { return output_; }
    const std::vector<double>& Weights() const { return weights_; }
    std::size_t Length() const { return weights_.size(); }
    std::size_t PendingUpdates() const { return updates_; }

  private:
    void Push(double x);

    double stepSize_;
    std::vector<double> upper_;
    std::vector<double> lower_;
    bool clamp_;
    std::vector<double> weights_;
    std::vector<double> gradient_;
    std::vector<double> delay_;  // delay_[i]: the level decided i + 1 bits ago
    std::size_t updates_ = 0;
    double output_ = 0;
};
