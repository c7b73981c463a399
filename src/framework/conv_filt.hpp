#pragma once
// Direct-form-II rational filter whose state runs on across calls, so that consecutive
// waveform blocks are filtered as one stream.
#include <cstdint>
#include <vector>

class ConvFilt {
  public:
    // num, den, init must have equal lengths (EBadInitializers otherwise); every coefficient is
    // divided by den[0]. init[k] is the internal value k+1 steps before the first sample.
    ConvFilt(std::vector<double> num, std::vector<double> den, std::vector<double> init);
    virtual ~ConvFilt() = default;

    double Filter(double x);
    std::vector<double> Filter(std::vector<double> samples);

    // Read access for callers that run an equivalent but cheaper form of the same filter.
    const std::vector<double>& Numerator() const { return b; }
    const std::vector<double>& Denominator() const { return a; }
    std::vector<double>& State() { return w; }

  private:
    std::vector<double> b;
    std::vector<double> a;
    std::vector<double> w;
    std::uint32_t n = 0;
};
