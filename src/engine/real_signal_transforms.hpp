#pragma once
// The transforms of the adaptation's long periodic signals, kept in one place so that the engine
// behind them can be exchanged without touching the signal code.
#include <vector>

#include "engine/fft_service.hpp"

// Full spectrum (n points, 0 Hz first) of a real signal of n samples, unscaled.
void SpectrumOfReal(const std::vector<double>& signal, ComplexBuffer& spectrum);

// The real signal whose spectrum is `spectrum`, which must be conjugate-symmetric
// (X[n-k] = conj(X[k])), with the 1/n of the inverse transform. For even n the work is one
// complex inverse transform of n/2 points: even samples go into the real parts and odd samples
// into the imaginary parts of a half-length signal.
void RealOfSymmetricSpectrum(const ComplexBuffer& spectrum, std::vector<double>& signal);
