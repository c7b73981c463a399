#include "amisim/eye/prbs.hpp"

#include <stdexcept>
#include <string>

namespace amisim {

Prbs::Prbs(int order) : order_(order) {
    switch (order) {
        case 7:
            tap_ = 6;
            break;
        case 15:
            tap_ = 14;
            break;
        case 23:
            tap_ = 18;
            break;
        case 31:
            tap_ = 28;
            break;
        default:
            throw std::invalid_argument("PRBS order " + std::to_string(order) +
                                        " is not one of 7, 15, 23, 31");
    }
    state_ = static_cast<std::uint32_t>((std::uint64_t{1} << order) - 1);
}

int Prbs::next() {
    const std::uint32_t bit = ((state_ >> (order_ - 1)) ^ (state_ >> (tap_ - 1))) & 1u;
    const std::uint32_t mask = static_cast<std::uint32_t>((std::uint64_t{1} << order_) - 1);
    state_ = ((state_ << 1) | bit) & mask;
    return static_cast<int>(bit);
}

}  // namespace amisim
