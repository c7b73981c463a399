#pragma once
// The project's FFT wrapper for real signals. A plan transforms n real samples into their n/2+1
// non-negative-frequency bins and back, in place in a RealFftBuffer, both directions unscaled:
// Inverse(Forward(x)) = n x. The conjugate-symmetric upper half of the spectrum is never formed.
//
// Two engines: FFTW (the default, fast) and GSL through the FFT service (the reference engine the
// tests compare FFTW with). FFTW plans are made once per length and shared by every user of
// that length in the process; planning is serialised, executing is not.
#include <complex>
#include <cstddef>
#include <memory>
#include <vector>

// Which engine plans made from now on, on the calling thread, use.
enum class FftEngine { Fftw, Gsl };
FftEngine CurrentFftEngine();
void SetFftEngine(FftEngine engine);

// Sets the calling thread's engine for the lifetime of the object, then restores the old one.
class ScopedFftEngine {
  public:
    explicit ScopedFftEngine(FftEngine engine);
    ~ScopedFftEngine();
    ScopedFftEngine(const ScopedFftEngine&) = delete;
    ScopedFftEngine& operator=(const ScopedFftEngine&) = delete;

  private:
    FftEngine saved_;
};

// Zeroed, SIMD-aligned storage (FFTW's allocator). std::bad_alloc when memory is short.
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
    // Transforms of n samples, n even and at least 2 (FftError otherwise), on the calling
    // thread's current engine.
    explicit RealFftPlan(std::size_t n);
    ~RealFftPlan();
    RealFftPlan(RealFftPlan&&) noexcept;
    RealFftPlan& operator=(RealFftPlan&&) noexcept;

    std::size_t Size() const { return n_; }
    FftEngine Engine() const { return engine_; }

    // Samples -> bins: X[k] = sum_j x[j] exp(-2 pi i jk/n), k = 0 .. n/2. `buffer` must have
    // this plan's length (FftError otherwise).
    void Forward(RealFftBuffer& buffer) const;
    // Bins -> samples: x[j] = Re X[0] + (-1)^j Re X[n/2] + 2 Re sum_{0<k<n/2} X[k] exp(2 pi i
    // jk/n), the transform of the conjugate-symmetric spectrum the bins stand for (the
    // imaginary parts of the first and last bin play no part).
    void Inverse(RealFftBuffer& buffer) const;

    // The FFTW plan pair shared by every plan of one length (opaque).
    struct FftwPlans;

  private:
    std::size_t n_ = 0;
    FftEngine engine_ = FftEngine::Fftw;
    std::shared_ptr<const FftwPlans> plans_;
};

// Convenience forms on vectors, with the calling thread's engine: the bins of an even-length real
// signal, and the signal of n (even) samples whose bins are given, including the 1/n factor.
std::vector<std::complex<double>> RealSpectrum(const std::vector<double>& x);
std::vector<double> RealSignal(const std::vector<std::complex<double>>& bins, std::size_t n);

// Number of distinct FFTW transform lengths planned and still held in the process (for tests).
std::size_t FftwPlanLengthsHeld();
