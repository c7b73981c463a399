#pragma once
// channel/: S-parameter tables, channel responses and the numeric tools around them.
//
// Channel responses between tables and spectra: phase unwrapping, magnitude/phase to complex,
// resampling of a tabulated response onto an FFT grid with a limit on the amplitude beyond the
// tabulated range, the tabulated response of a sampled impulse, and the response of a channel
// applied to an input spectrum.
//
// Magnitudes are in dB and phases in degrees in tables; phases are in radians once resampled.
// Parallel lists of different lengths raise ChannelDataError; empty inputs give empty outputs.
#include <complex>
#include <string>
#include <vector>

#include "engine/fft/fft_service.hpp"
#include "engine/channel/s_parameter_table.hpp"

// The only amplitude-limit and resampling modes there are: beyond the last tabulated frequency
// an amplitude may not exceed the last tabulated one, and tables are resampled by "NR3_linear".
inline constexpr const char* kAmplitudeLimitMode = "Last Amplitude Value";
inline constexpr const char* kResampleMode = "NRLinear";

// Channel kinds of ChannelToImpulse.
inline constexpr const char* kChannelSdd21 = "Sdd21";
inline constexpr const char* kChannelIdeal = "Ideal";

// A response tabulated over ascending frequencies (Hz): magnitude in dB, phase in degrees.
struct TabulatedResponse {
    std::vector<double> frequencies;
    std::vector<double> magnitudesDb;
    std::vector<double> phasesDeg;
};

// A response resampled onto a frequency grid: magnitude in dB, unwrapped phase in radians.
struct ResampledResponse {
    std::vector<double> magnitudesDb;
    std::vector<double> phasesRad;
};

// From the first grid point above the last data frequency to the end of the grid, amplitudes
// greater than the last data amplitude are replaced by it. Nothing changes when no grid point
// lies above the data or either list of data is empty.
void LimitAmplitude(const std::vector<double>& dataFrequencies,
                    const std::vector<double>& gridFrequencies,
                    const std::vector<double>& dataAmplitudes, std::vector<double>& gridAmplitudes);

// Removes the 2*pi jumps between consecutive phases (radians) that are at least `tolerance`
// apart; the first phase is kept.
std::vector<double> UnwrapPhase(const std::vector<double>& phasesRad, double tolerance);

// 10^(dB/20) * exp(j * degrees * pi / 180).
std::vector<std::complex<double>> ToComplex(const std::vector<double>& magnitudesDb,
                                            const std::vector<double>& phasesDeg);

// `table` rows hold (frequency Hz, magnitude dB, phase degrees), frequencies strictly
// ascending. The phase is unwrapped, both curves are interpolated linearly onto `grid` (and
// extrapolated from the end intervals outside the table), then LimitAmplitude caps the
// magnitudes above the table. At least two rows are needed (ChannelDataError otherwise).
ResampledResponse ResampleResponse(const std::vector<std::vector<double>>& table,
                                   const std::vector<double>& grid);

// The response of a sampled impulse (values in 1/s, as simulators hand them over) at the
// frequencies k / (n * sampleInterval) up to maxFrequency: the impulse's spectrum times the
// sample interval, so that a channel passing a signal unchanged has 0 dB. A magnitude of exactly
// zero is written as -400 dB.
TabulatedResponse ImpulseResponseTable(const std::vector<double>& impulse, double sampleInterval,
                                       double maxFrequency);

// The signal whose full spectrum is `input` (n points of a signal sampled every
// `sampleInterval`) after passing the channel: kind "Sdd21" takes S21 of `table` (columns 0, 9,
// 10) resampled onto the grid f_k = k / (n * sampleInterval), k = 0 .. n/2, and mirrors it as the
// complex conjugate onto the negative frequencies (k > n/2), with the points at 0 Hz and (for even
// n) n/2 reduced to their real parts, so that a real input gives a real result; kind "Ideal"
// passes the input unchanged. The inverse transform's real parts are returned. An unknown kind or
// an unusable table raises ChannelDataError.
std::vector<double> ChannelToImpulse(const ComplexBuffer& input, double sampleInterval,
                                     const std::string& channelKind, const SParameterTable& table);
