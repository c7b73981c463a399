#pragma once
// The DFE as a statistical simulation sees it: what the waveform's DFE cancels, written into the
// equalised impulse response so that the pulse it gives loses exactly that at each post-cursor.
//
// The waveform's DFE subtracts, for a bit decided k bits back, its tap weight times its data
// level, and holds that over the whole of the present bit. A simulator's pulse is the impulse
// response summed over one bit of the stimulus level, so one impulse sample of -c / (level * dt)
// lowers the pulse by c over exactly one bit after it: placed half a bit before the k-th
// post-cursor instant of the pulse's main cursor, it cancels c there and over the whole bit
// around it, as the waveform's DFE does.
#include <cstddef>
#include <vector>

namespace v10kx_ami_rx {

// Level of a one bit in the stimulus the impulse response stands for (a zero is its negative).
inline constexpr double kPulseLevel = 0.5;

// Pulse of one bit of kPulseLevel: pulse[i] = level * dt * (impulse[i - spb + 1] + ... +
// impulse[i]) for i < n.
std::vector<double> BitPulse(const double* impulse, std::size_t n, std::size_t samplesPerBit,
                             double sampleInterval, double level = kPulseLevel);

// Index of the pulse's largest value (0 when none is positive).
std::size_t MainCursorIndex(const std::vector<double>& pulse);

// The data level and the largest sample the DFE would settle on for random data through this
// pulse, sampled at its main cursor: the mean of |v| over its first 4999 bits rounded to whole
// `levelStep`s (at least one, at most 31), and the largest |v| of bits 1001 ... 5000.
struct DfeLevels {
    double dataLevel = 0;
    double peak = 0;
};
DfeLevels EstimateDfeLevels(const std::vector<double>& pulse, std::size_t mainIndex,
                            std::size_t samplesPerBit, double levelStep);

// Adds to `impulse` what lowers its pulse by cancel[k] volts over the bit around the (k + 1)-th
// post-cursor of the main cursor at `mainIndex`; taps that land past the end are left out.
void WriteDfeCancellation(double* impulse, std::size_t n, std::size_t mainIndex,
                          std::size_t samplesPerBit, double sampleInterval,
                          const std::vector<double>& cancel, double level = kPulseLevel);

}  // namespace v10kx_ami_rx
