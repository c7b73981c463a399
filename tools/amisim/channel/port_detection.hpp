#pragma once
// Which single-ended ports of a four-port file form the through paths: at low frequency a line
// passes nearly everything (|S| close to 1) while the other port pairs only couple weakly.
#include <optional>
#include <string>

#include "amisim/channel/touchstone.hpp"

namespace amisim {

struct PortDetection {
    std::optional<PortOrder> detected;  // empty when the data do not tell
    double throughPairs12_34 = 0;       // mean |S| of the paths 1-3 and 2-4 at low frequency
    double throughPairs13_24 = 0;       // mean |S| of the paths 1-2 and 3-4 at low frequency
    double upToHz = 0;                  // highest frequency point used
    std::string reason;                 // why nothing was detected
};

PortDetection detectPortOrder(const FourPortData& data);

std::string portOrderName(PortOrder order);

}  // namespace amisim
