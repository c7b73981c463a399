#include "engine/cdr/cdr_loop_filter.hpp"

#include <cmath>

CdrLoopFilter::CdrLoopFilter(double resistance, double c1, double c2)
    : r_(resistance),
      c1_(c1),
      c2_(c2),
      sum_(c1 + c2),
      product_(c1 * c2),
      inverseSumSquared_(1.0 / ((c1 + c2) * (c1 + c2))),
      c1Squared_(c1 * c1),
      c2Squared_(c2 * c2) {}

void CdrLoopFilter::Start(double v2) {
    v2_ = v2;
    v1_ = v2 / (r_ * c1_ + 1.0);
    started_ = true;
}

void CdrLoopFilter::Restore(double v2, double v1) {
    v2_ = v2;
    v1_ = v1;
}

double CdrLoopFilter::Decay(double seconds) {
    if (seconds != lastSeconds_) {
        lastSeconds_ = seconds;
        lastDecay_ = std::exp(-sum_ * seconds / (r_ * product_));
    }
    return lastDecay_;
}

void CdrLoopFilter::Charge(double current, double seconds) {
    const double e = Decay(seconds);
    const double p = product_;
    const double i = current;
    const double v2 = v2_;
    const double v1 = v1_;
    const double ramp = i * seconds / sum_;
    v2_ = inverseSumSquared_ *
              ((p * v2 - c1Squared_ * r_ * i - c1Squared_ * v1 - p * v1 + c1Squared_ * v2) * e +
               (p * v2 + c1Squared_ * r_ * i + c1Squared_ * v1 + p * v1 + c2Squared_ * v2)) +
          ramp;
    v1_ = inverseSumSquared_ *
              ((p * v1 + r_ * p * i - c2Squared_ * v2 + c2Squared_ * v1 - p * v2) * e +
               (p * v2 + p * v1 + c2Squared_ * v2 - r_ * p * i + c1Squared_ * v1)) +
          ramp;
}

void CdrLoopFilter::Hold(double seconds) {
    const double e = Decay(seconds);
    const double shared = (c2_ * v2_ + c1_ * v1_) / sum_;
    const double difference = v2_ - v1_;
    v2_ = shared + c1_ * difference * e / sum_;
    v1_ = shared - c2_ * difference * e / sum_;
}
