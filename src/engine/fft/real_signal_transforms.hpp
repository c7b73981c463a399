#pragma once
// The transforms of the adaptation's long periodic signals, kept in one place so that the engine
// behind them can be exchanged without touching the signal code. Even lengths (every length the
// adaptation meets: whole bits of 32 samples) run on the project's FFT wrapper, FFTW by default;
// odd lengths fall back to the mixed-radix FFT service.
#include <complex>
#include <vector>

// Bins 0 .. n/2 of the spectrum of a real signal of n samples, unscaled:
// X[k] = sum_j x[j] exp(-2 pi i jk/n). The bins above n/2 are the conjugates of these.
std::vector<std::complex<double>> HalfSpectrumOfReal(const std::vector<double>& signal);

// The real signal of n samples whose spectrum has the bins 0 .. n/2 given (conjugate-symmetric
// above), with the 1/n of the inverse transform. `bins` must hold n/2 + 1 values (FftError
// otherwise); the imaginary parts of bin 0 and, for even n, bin n/2 play no part.
std::vector<double> RealOfHalfSpectrum(const std::vector<std::complex<double>>& bins,
                                       std::size_t n);
