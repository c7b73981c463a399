#include "amisim/channel/port_detection.hpp"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace amisim {

namespace {
// Points up to this frequency (or the first point, when the data start above it) count as low
// frequency: even a long backplane passes most of the signal there.
constexpr double kLowFrequencyHz = 200e6;
// A path passing less than this is no through path.
constexpr double kMinThrough = 0.2;
// The through pairs must pass clearly more than the other candidate.
constexpr double kMinRatio = 2.0;

double magnitudeAt(const std::array<std::complex<double>, 16>& s, int row, int col) {
    return std::abs(s[static_cast<std::size_t>(row * 4 + col)]);
}
}  // namespace

std::string portOrderName(PortOrder order) {
    return order == PortOrder::Pairs12_34 ? "1-2/3-4" : "1-3/2-4";
}

PortDetection detectPortOrder(const FourPortData& data) {
    PortDetection r;
    if (data.frequencies.empty()) {
        r.reason = "the file holds no frequency points";
        return r;
    }
    double a = 0, b = 0;
    int n = 0;
    for (std::size_t k = 0; k < data.frequencies.size(); ++k) {
        if (k > 0 && data.frequencies[k] > kLowFrequencyHz) break;
        const auto& s = data.s[k];
        // 1-2/3-4: lines 1->3 and 2->4; 1-3/2-4: lines 1->2 and 3->4 (zero-based here)
        a += magnitudeAt(s, 2, 0) + magnitudeAt(s, 0, 2) + magnitudeAt(s, 3, 1) +
             magnitudeAt(s, 1, 3);
        b += magnitudeAt(s, 1, 0) + magnitudeAt(s, 0, 1) + magnitudeAt(s, 3, 2) +
             magnitudeAt(s, 2, 3);
        r.upToHz = data.frequencies[k];
        ++n;
    }
    r.throughPairs12_34 = a / (4.0 * n);
    r.throughPairs13_24 = b / (4.0 * n);
    const double hi = std::max(r.throughPairs12_34, r.throughPairs13_24);
    const double lo = std::min(r.throughPairs12_34, r.throughPairs13_24);
    std::ostringstream why;
    why.precision(3);
    if (hi < kMinThrough) {
        why << "no port pair passes the signal at low frequency (mean |S| " << r.throughPairs12_34
            << " for 1-3/2-4 paths, " << r.throughPairs13_24 << " for 1-2/3-4 paths)";
        r.reason = why.str();
    } else if (hi < kMinRatio * lo) {
        why << "both port pairings look like through paths at low frequency (mean |S| "
            << r.throughPairs12_34 << " and " << r.throughPairs13_24 << ")";
        r.reason = why.str();
    } else {
        r.detected = r.throughPairs12_34 > r.throughPairs13_24 ? PortOrder::Pairs12_34
                                                               : PortOrder::Pairs13_24;
    }
    return r;
}

}  // namespace amisim
