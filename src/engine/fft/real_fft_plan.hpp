#pragma once
// fft/: the one FFT wrapper of the engine, with its FFTW engine, GSL reference engine and plans.
//
// The project's one FFT wrapper for real signals. A plan transforms n real samples (any n >= 1,
// odd or even) into their n/2+1 non-negative-frequency bins and back, in place in a
// RealFftBuffer, both directions unscaled: Inverse(Forward(x)) = n x. The conjugate-symmetric
// upper half of the spectrum is never formed.
//
// Two engines, chosen by an argument of each plan: FFTW (fast, what the models run on) and the
// reference engine on the FFT service (fft_service.hpp), which the tests compare FFTW with. FFTW
// plans are made once per length and shared by every user of that length in the process;
// planning is serialised, executing is not.
#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Fftw: FFTW's real-data transforms. Gsl: the FFT service's dispatcher `Transform`, with the
// radix-2 transform for power-of-two lengths and GSL's mixed-radix transform for all others.
enum class FftEngine { Fftw, Gsl };

// Zeroed, SIMD-aligned storage (large_buffer.hpp: its own mapping on huge pages when large).
// std::bad_alloc when memory is short.
class AlignedDoubles {
  public:
    AlignedDoubles() = default;
    explicit AlignedDoubles(std::size_t count);
    ~AlignedDoubles();
    AlignedDoubles(AlignedDoubles&& other) noexcept;
    AlignedDoubles& operator=(AlignedDoubles&& other) noexcept;
    AlignedDoubles(const AlignedDoubles&) = delete;
    AlignedDoubles& operator=(const AlignedDoubles&) = delete;

    double* data() { return data_; }
    const double* data() const { return data_; }
    std::size_t size() const { return size_; }

  private:
    double* data_ = nullptr;
    std::size_t size_ = 0;
};

// Room for one transform of n samples: read and write n samples through Samples(), or the n/2+1
// bins through Bins(); they share the storage.
class RealFftBuffer {
  public:
    explicit RealFftBuffer(std::size_t n);
    std::size_t Size() const { return n_; }
    std::size_t BinCount() const { return n_ / 2 + 1; }
    double* Samples() { return storage_.data(); }
    const double* Samples() const { return storage_.data(); }
    std::complex<double>* Bins() {
        return reinterpret_cast<std::complex<double>*>(storage_.data());
    }
    const std::complex<double>* Bins() const {
        return reinterpret_cast<const std::complex<double>*>(storage_.data());
    }

  private:
    std::size_t n_;
    AlignedDoubles storage_;
};

class RealFftPlan {
  public:
    // Transforms of n >= 1 samples (FftError otherwise) on `engine`.
    explicit RealFftPlan(std::size_t n, FftEngine engine = FftEngine::Fftw);
    ~RealFftPlan();
    RealFftPlan(RealFftPlan&&) noexcept;
    RealFftPlan& operator=(RealFftPlan&&) noexcept;

    std::size_t Size() const { return n_; }
    FftEngine Engine() const { return engine_; }

    // Samples -> bins: X[k] = sum_j x[j] exp(-2 pi i jk/n), k = 0 .. n/2. `buffer` must have
    // this plan's length (FftError otherwise).
    void Forward(RealFftBuffer& buffer) const;
    // Bins -> samples: x[j] = Re X[0] + (-1)^j Re X[n/2] + 2 Re sum_{0<k<n/2} X[k] exp(2 pi i
    // jk/n) (no X[n/2] term for odd n), the transform of the conjugate-symmetric spectrum the
    // bins stand for (the imaginary parts of bin 0 and, for even n, bin n/2 play no part).
    void Inverse(RealFftBuffer& buffer) const;

    // The FFTW plan pair shared by every plan of one length (opaque).
    struct FftwPlans;

  private:
    std::size_t n_ = 0;
    FftEngine engine_ = FftEngine::Fftw;
    std::shared_ptr<const FftwPlans> plans_;
};

// Convenience forms on vectors: the n/2+1 bins of a real signal of n samples, and the signal of
// n samples whose n/2+1 bins are given, including the 1/n factor (FftError when the counts do
// not match, or for no samples at all).
std::vector<std::complex<double>> RealSpectrum(const std::vector<double>& x,
                                               FftEngine engine = FftEngine::Fftw);
std::vector<double> RealSignal(const std::vector<std::complex<double>>& bins, std::size_t n,
                               FftEngine engine = FftEngine::Fftw);

// Number of distinct FFTW transform lengths planned and still held in the process, by users or
// as one of the last few lengths used (for tests).
std::size_t FftwPlanLengthsHeld();
// Number of FFTW plan pairs made in the process so far (for tests).
std::uint64_t FftwPlansMade();
