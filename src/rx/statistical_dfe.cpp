#include "rx/statistical_dfe.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace v10kx_ami_rx {
namespace {

// The DFE's estimation windows, in decided bits.
constexpr std::size_t kLevelBits = 4999;
constexpr std::size_t kPeakFrom = 1001;
constexpr std::size_t kPeakTo = 5000;
constexpr double kHighestLevelSteps = 31;
// Cursors taken into account on either side of the main one.
constexpr std::size_t kPreCursors = 4;
constexpr std::size_t kPostCursors = 64;

// A fixed pseudo-random bit sequence (a 31-bit maximal-length shift register), so that the
// estimate is the same on every call.
class BitSource {
  public:
    int Next() {
        const std::uint32_t bit = ((state_ >> 30) ^ (state_ >> 27)) & 1u;
        state_ = ((state_ << 1) | bit) & 0x7fffffffu;
        return bit ? 1 : -1;
    }

  private:
    std::uint32_t state_ = 0x2545f491u;
};

}  // namespace

std::vector<double> BitPulse(const double* impulse, std::size_t n, std::size_t samplesPerBit,
                             double sampleInterval, double level) {
    std::vector<double> pulse(n, 0.0);
    if (impulse == nullptr || samplesPerBit == 0) return pulse;
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sum += impulse[i];
        if (i >= samplesPerBit) sum -= impulse[i - samplesPerBit];
        pulse[i] = level * sampleInterval * sum;
    }
    return pulse;
}

std::size_t MainCursorIndex(const std::vector<double>& pulse) {
    std::size_t index = 0;
    double largest = 0;
    for (std::size_t i = 0; i < pulse.size(); ++i) {
        if (pulse[i] > largest) {
            largest = pulse[i];
            index = i;
        }
    }
    return index;
}

DfeLevels EstimateDfeLevels(const std::vector<double>& pulse, std::size_t mainIndex,
                            std::size_t samplesPerBit, double levelStep) {
    DfeLevels levels;
    if (samplesPerBit == 0 || mainIndex >= pulse.size() || !(levelStep > 0)) return levels;
    // Cursor j of `cursors` weighs the bit j - pre bits after the present one.
    std::vector<double> cursors;
    const std::size_t pre = std::min(kPreCursors, mainIndex / samplesPerBit);
    for (std::size_t j = 0; j <= pre + kPostCursors; ++j) {
        const std::size_t at = mainIndex - pre * samplesPerBit + j * samplesPerBit;
        if (at >= pulse.size()) break;
        cursors.push_back(pulse[at]);
    }
    // v_n = sum over j of cursor_j * b_(n + pre - j), over a sliding history of bits.
    std::vector<int> bits(cursors.size(), 0);
    BitSource source;
    for (int& b : bits) b = source.Next();
    double sum = 0;
    for (std::size_t n = 1; n <= kPeakTo; ++n) {
        std::rotate(bits.rbegin(), bits.rbegin() + 1, bits.rend());
        bits[0] = source.Next();
        double v = 0;
        for (std::size_t j = 0; j < cursors.size(); ++j) v += cursors[j] * bits[j];
        const double magnitude = std::fabs(v);
        if (n <= kLevelBits) sum += magnitude;
        if (n >= kPeakFrom) levels.peak = std::max(levels.peak, magnitude);
    }
    const double steps = std::round(sum / static_cast<double>(kLevelBits) / levelStep);
    levels.dataLevel = std::clamp(steps, 1.0, kHighestLevelSteps) * levelStep;
    return levels;
}

void WriteDfeCancellation(double* impulse, std::size_t n, std::size_t mainIndex,
                          std::size_t samplesPerBit, double sampleInterval,
                          const std::vector<double>& cancel, double level) {
    if (impulse == nullptr || samplesPerBit == 0 || !(sampleInterval > 0) || !(level > 0)) return;
    // The pulse at i sums the impulse over (i - spb, i]: a sample at q reaches the pulse at
    // q ... q + spb - 1, the bit centred on the post-cursor instant.
    const std::size_t half = samplesPerBit / 2;
    for (std::size_t k = 0; k < cancel.size(); ++k) {
        const std::size_t at = mainIndex + (k + 1) * samplesPerBit - half;
        if (at >= n) break;
        if (std::isfinite(cancel[k])) impulse[at] -= cancel[k] / (level * sampleInterval);
    }
}

}  // namespace v10kx_ami_rx
