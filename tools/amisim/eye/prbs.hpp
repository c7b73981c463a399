#pragma once
// Pseudo-random bit sequences from maximal-length linear feedback shift registers.
#include <cstdint>

namespace amisim {

class Prbs {
  public:
    // order 7, 15, 23 or 31 (x^7+x^6+1, x^15+x^14+1, x^23+x^18+1, x^31+x^28+1);
    // throws std::invalid_argument for any other order. The register starts all ones.
    explicit Prbs(int order);
    int order() const { return order_; }
    std::uint64_t period() const { return (std::uint64_t{1} << order_) - 1; }
    int next();  // 0 or 1

  private:
    int order_;
    int tap_;
    std::uint32_t state_;
};

}  // namespace amisim
