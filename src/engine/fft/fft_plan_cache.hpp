#pragma once
// Cached mixed-radix plans (twiddle tables plus scratch workspace) for the FFT service. Building
// the tables costs about as much as one transform, and the receiver runs long series of transforms
// of one length, so each operation keeps the plan of its last length. All of it lives in one
// per-thread record (fftServiceState).
#include <gsl/gsl_fft_complex.h>
#include <gsl/gsl_fft_real.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/fft/fft_service.hpp"

struct RealPlanKind {
    using Tables = gsl_fft_real_wavetable;
    using Work = gsl_fft_real_workspace;
    static Tables* allocTables(std::size_t n) { return gsl_fft_real_wavetable_alloc(n); }
    static Work* allocWork(std::size_t n) { return gsl_fft_real_workspace_alloc(n); }
    static void freeTables(Tables* t) { gsl_fft_real_wavetable_free(t); }
    static void freeWork(Work* w) { gsl_fft_real_workspace_free(w); }
};

struct ComplexPlanKind {
    using Tables = gsl_fft_complex_wavetable;
    using Work = gsl_fft_complex_workspace;
    static Tables* allocTables(std::size_t n) { return gsl_fft_complex_wavetable_alloc(n); }
    static Work* allocWork(std::size_t n) { return gsl_fft_complex_workspace_alloc(n); }
    static void freeTables(Tables* t) { gsl_fft_complex_wavetable_free(t); }
    static void freeWork(Work* w) { gsl_fft_complex_workspace_free(w); }
};

// Holds nothing or the plan of one length.
template <class Kind>
class PlanSlot {
  public:
    PlanSlot() = default;
    PlanSlot(const PlanSlot&) = delete;
    PlanSlot& operator=(const PlanSlot&) = delete;
    ~PlanSlot() { release(); }

    // Makes the slot hold the plan for n >= 1, rebuilding it when it holds another length.
    void prepare(std::size_t n) {
        if (n == length_ && tables_ != nullptr) return;
        release();
        tables_ = Kind::allocTables(n);
        work_ = Kind::allocWork(n);
        if (tables_ == nullptr || work_ == nullptr) {
            release();
            throw FftError("cannot allocate FFT tables for " + std::to_string(n) + " points");
        }
        length_ = n;
        ++builds_;
    }

    void release() {
        if (tables_ != nullptr) Kind::freeTables(tables_);
        if (work_ != nullptr) Kind::freeWork(work_);
        tables_ = nullptr;
        work_ = nullptr;
        length_ = 0;
    }

    typename Kind::Tables* tables() const { return tables_; }
    typename Kind::Work* work() const { return work_; }
    // 0 when empty.
    std::size_t length() const { return length_; }
    // Number of plans built so far (to see that equal lengths reuse the plan).
    std::uint64_t builds() const { return builds_; }

  private:
    typename Kind::Tables* tables_ = nullptr;
    typename Kind::Work* work_ = nullptr;
    std::size_t length_ = 0;
    std::uint64_t builds_ = 0;
};

struct FftServiceState {
    PlanSlot<RealPlanKind> realForward;
    PlanSlot<ComplexPlanKind> complexForward;
    PlanSlot<ComplexPlanKind> complexInverse;
};

// Per thread: two model instances running on two threads each get their own plans,
// so neither can free or rebuild tables the other is using, and no transform waits on a lock.
FftServiceState& fftServiceState();
