#pragma once
// Window interpolators with a stateful bracketing search. Successive abscissae that are close to
// each other are found by hunting outward from the previous interval instead of bisecting the
// whole table, which makes resampling onto an ordered grid nearly linear in the grid length.
#include <cstdint>

class Base_interp {
  public:
    // x and y must stay valid for the object's lifetime and hold n points each.
    Base_interp(const double* x, const double* y, std::int32_t n, std::int32_t windowSize);
    virtual ~Base_interp() = default;

    // Start index of the window for v: hunt from the previous interval when the last two searches
    // were close, otherwise bisect.
    std::int32_t Search(double v) { return correlated ? hunt(v) : locate(v); }
    double Interp(double v) { return EvaluateWindow(Search(v), v); }

    std::int32_t locate(double v);
    std::int32_t hunt(double v);

    // Interpolates at v from the points j .. j + windowSize - 1.
    virtual double EvaluateWindow(std::int32_t j, double v) = 0;

    std::int32_t count;
    std::int32_t windowSize;
    std::int32_t lastIndex = 0;
    std::int32_t correlated = 0;
    std::int32_t hopLimit;
    const double* x;
    const double* y;

  private:
    // Narrows the bracket [lo, hi] around v down to one interval; returns its lower index.
    std::int32_t bisect(double v, bool asc, std::int32_t lo, std::int32_t hi) const;
    std::int32_t finishSearch(std::int32_t lo);
};

class Linear_interp : public Base_interp {
  public:
    Linear_interp(const double* x, const double* y, std::int32_t n) : Base_interp(x, y, n, 2) {}
    double EvaluateWindow(std::int32_t j, double v) override;
};

// Four-point Neville polynomial.
class Poly_interp : public Base_interp {
  public:
    Poly_interp(const double* x, const double* y, std::int32_t n) : Base_interp(x, y, n, 4) {}
    double EvaluateWindow(std::int32_t j, double v) override;
    double errorEstimate = 0.0;
};

// Four-point diagonal rational function (Bulirsch-Stoer).
class Rat_interp : public Base_interp {
  public:
    Rat_interp(const double* x, const double* y, std::int32_t n) : Base_interp(x, y, n, 4) {}
    double EvaluateWindow(std::int32_t j, double v) override;
    double errorEstimate = 0.0;
};
