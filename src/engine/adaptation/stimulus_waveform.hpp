#pragma once
// The adaptation's stimulus: a symbol sequence as the receiver sees it after the channel.
//
// Symbols are held for a whole number of samples per bit at +-0.5 V, their edges are shaped by a
// Gaussian low-pass filter (20-80 % rise time 0.12 UI) applied in the frequency domain, and the
// result is convolved with the channel impulse response resampled onto the model's sample grid.
//
// Periodicity: the edge shaping works on the spectrum of the whole sequence, which treats the
// sequence as one period of a signal that repeats forever. The convolution with the channel does
// the same (circular convolution), so the received waveform is the steady-state response to the
// repeated pattern: it has no start-up transient and every sample is valid. A filter that
// processes it further can take its history from the end of the waveform (it is periodic).
//
// Units: simulators hand over impulse responses in 1/s (a channel that passes a signal unchanged
// is a single sample of 1/dt), so the convolution sum is multiplied by the sample interval:
// y[n] = dt * sum_j h[j] x[n - j], as the channel of amisim does.
#include <cstddef>
#include <cstdint>
#include <vector>

// Level of a one bit; a zero bit is its negative.
inline constexpr double kStimulusLevel = 0.5;

// The sample grid the adaptation simulates on.
struct ModelGrid {
    double bitRate = 0;     // bit/s
    int samplesPerBit = 0;  // whole samples per unit interval
    double SampleInterval() const { return 1.0 / (bitRate * samplesPerBit); }
};

// Every symbol repeated samplesPerBit times, times `level`.
std::vector<double> HoldSymbols(const std::vector<std::int32_t>& symbols, int samplesPerBit,
                                double level);

// The edge-shaping filter for n samples on the grid `grid`, 0 Hz first: with
// sigma = (0.12 UI) / 1.6832 and the centred frequencies f_k = (k/n - 0.5) * bitRate * spb,
// H_k = exp(-0.5 (2 pi f_k sigma)^2) normalised to a largest value of 1, then rotated by n/2
// (integer part) so that point 0 is the lowest frequency. For odd n the rotation leaves the filter
// half a bin off symmetric; multiplying a real signal's spectrum by it and keeping the real parts
// of the inverse is the same as using (H[k] + H[n-k]) / 2.
std::vector<double> GaussianEdgeFilter(std::size_t n, const ModelGrid& grid);

// The impulse (values in 1/s) sampled every `fromInterval`, resampled by "NR3_linear" onto the
// grid 0, toInterval, 2 toInterval, ... within the same time span. A single sample keeps its area.
// A span of more than 2^24 samples on the new grid raises ChannelDataError.
std::vector<double> ResampleImpulse(const std::vector<double>& impulse, double fromInterval,
                                    double toInterval);

// The received stimulus on `grid`: symbols.size() * samplesPerBit samples, all of them valid (see
// above). The impulse is resampled when impulseInterval differs from the grid's sample interval
// by more than one part in 10^9. Shaping and convolution are done together in the frequency
// domain (both are circular filters of the same length): two forward transforms and one
// inverse, on the half spectra of the real signals. The symbols' spectrum and shaping are kept
// for the next build of the same symbols on the same grid (one such pattern is kept per process);
// when they are not at hand they are made on a second of `lanes` threads while the channel's
// spectrum is made. Raises ChannelDataError for a non-positive bit rate or samples per bit, a
// non-positive sample interval, non-finite impulse values or a stimulus too long to transform.
std::vector<double> BuildReceivedWaveform(const std::vector<std::int32_t>& symbols,
                                          const ModelGrid& grid, const std::vector<double>& impulse,
                                          double impulseInterval, std::size_t lanes = 1);
