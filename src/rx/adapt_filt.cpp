#include "rx/adapt_filt.hpp"

#include <algorithm>
#include <cmath>

AdaptFilt::AdaptFilt(double stepSize, std::size_t length, std::vector<double> upperLimit,
                     std::vector<double> lowerLimit, bool clamp)
    : stepSize_(stepSize),
      upper_(std::move(upperLimit)),
      lower_(std::move(lowerLimit)),
      clamp_(clamp && upper_.size() >= length && lower_.size() >= length),
      weights_(length, 0.0),
      gradient_(length, 0.0),
      delay_(length, 0.0) {}

void AdaptFilt::SetWeights(const std::vector<double>& weights) {
    const std::size_t n = std::min(weights.size(), weights_.size());
    std::fill(weights_.begin(), weights_.end(), 0.0);
    std::copy(weights.begin(), weights.begin() + static_cast<std::ptrdiff_t>(n), weights_.begin());
    output_ = 0;
    for (std::size_t i = 0; i < weights_.size(); ++i) output_ += weights_[i] * delay_[i];
}

void AdaptFilt::Update(double x, double error, bool apply, double gain) {
    gain = std::max(gain, 1.0);
    ++updates_;
    const double scale = error * stepSize_ * gain;
    const std::size_t length = weights_.size();
    for (std::size_t i = 0; i < length; ++i) gradient_[i] += scale * delay_[i];
    if (apply) {
        const double count = static_cast<double>(updates_);
        for (std::size_t i = 0; i < length; ++i) {
            // A gradient that overflowed carries no direction; it is dropped, not applied.
            if (std::isfinite(gradient_[i])) weights_[i] += gradient_[i] / count;
            gradient_[i] = 0;
            if (clamp_) weights_[i] = std::clamp(weights_[i], lower_[i], upper_[i]);
        }
        updates_ = 0;
    }
    Push(x);
}

void AdaptFilt::Shift(double x) { Push(x); }

void AdaptFilt::Push(double x) {
    const std::size_t length = weights_.size();
    if (length == 0) return;
    std::copy_backward(delay_.begin(), delay_.end() - 1, delay_.end());
    delay_[0] = x;
    double sum = 0;
    for (std::size_t i = 0; i < length; ++i) sum += weights_[i] * delay_[i];
    output_ = sum;
}
