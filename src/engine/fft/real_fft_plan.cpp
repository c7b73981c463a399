#include "engine/fft/real_fft_plan.hpp"

#include <fftw3.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "engine/fft/fft_service.hpp"
#include "engine/fft/large_buffer.hpp"

AlignedDoubles::AlignedDoubles(std::size_t count) : size_(count) {
    if (count == 0) return;
    if (count > static_cast<std::size_t>(-1) / sizeof(double)) throw std::bad_alloc();
    data_ = static_cast<double*>(AllocateLarge(count * sizeof(double)));
}

AlignedDoubles::~AlignedDoubles() { FreeLarge(data_, size_ * sizeof(double)); }

AlignedDoubles::AlignedDoubles(AlignedDoubles&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

AlignedDoubles& AlignedDoubles::operator=(AlignedDoubles&& other) noexcept {
    if (this != &other) {
        FreeLarge(data_, size_ * sizeof(double));
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

// n samples or n/2+1 interleaved bins, whichever is longer.
RealFftBuffer::RealFftBuffer(std::size_t n) : n_(n), storage_(2 * (n / 2 + 1)) {}

// The in-place plan pair of one length. Destroyed (under the planning lock) when its last user
// lets go of it.
struct RealFftPlan::FftwPlans {
    fftw_plan forward = nullptr;
    fftw_plan inverse = nullptr;
};

namespace {

// Every FFTW plan this library holds, by length. FFTW's planner and plan destruction must not
// run on two threads at once, so both happen under `mutex`; executing plans needs no lock.
// The plans of the last few lengths used stay made after their last user lets go: a simulator
// makes one model instance after another on the same grid, and each would otherwise plan the
// same transforms again (and fill their scratch memory) for nothing.
struct FftwPlanCache {
    // Recursive: a failure while a new plan is being handed out releases it under the lock.
    std::recursive_mutex mutex;
    std::map<std::size_t, std::weak_ptr<const RealFftPlan::FftwPlans>> plans;
    std::deque<std::shared_ptr<const RealFftPlan::FftwPlans>> recent;  // most recent first
    std::uint64_t made = 0;
    bool prepared = false;
};

// Lengths whose plans outlive their users: the adaptation's and the live chain's few lengths,
// and a simulator's own.
constexpr std::size_t kRecentPlanLengths = 6;

// Puts `plans` at the front of the recent lengths, letting go of the oldest beyond the bound.
void KeepRecent(FftwPlanCache& cache, const std::shared_ptr<const RealFftPlan::FftwPlans>& plans) {
    const auto it = std::find(cache.recent.begin(), cache.recent.end(), plans);
    if (it == cache.recent.begin() && it != cache.recent.end()) return;
    if (it != cache.recent.end()) cache.recent.erase(it);
    cache.recent.push_front(plans);
    // The oldest may be the last holder: its plans are destroyed here, under the lock.
    while (cache.recent.size() > kRecentPlanLengths) cache.recent.pop_back();
}

FftwPlanCache& TheFftwPlanCache() {
    // Never destroyed: plans held by other static objects may be released after it would be.
    static FftwPlanCache* cache = new FftwPlanCache;
    return *cache;
}

void DestroyPlans(const RealFftPlan::FftwPlans* plans, std::size_t n) {
    FftwPlanCache& cache = TheFftwPlanCache();
    {
        std::lock_guard<std::recursive_mutex> lock(cache.mutex);
        const auto it = cache.plans.find(n);
        if (it != cache.plans.end() && it->second.expired()) cache.plans.erase(it);
        if (plans->forward) fftw_destroy_plan(plans->forward);
        if (plans->inverse) fftw_destroy_plan(plans->inverse);
    }
    delete plans;
}

std::shared_ptr<const RealFftPlan::FftwPlans> AcquireFftwPlans(std::size_t n) {
    FftwPlanCache& cache = TheFftwPlanCache();
    std::lock_guard<std::recursive_mutex> lock(cache.mutex);
    if (!cache.prepared) {
        // Other code in the process (a simulator, another model) may plan with FFTW too: FFTW's
        // own lock then keeps their planning apart from ours. Wisdom an administrator installed
        // for the machine improves the plans at no planning cost.
        fftw_make_planner_thread_safe();
        fftw_import_system_wisdom();
        cache.prepared = true;
    }
    if (auto held = cache.plans[n].lock()) {
        KeepRecent(cache, held);
        return held;
    }

    // Estimated plans: measuring costs seconds for long transforms, far more than it saves in a
    // simulation, and AMI_Init must stay quick.
    AlignedDoubles scratch(2 * (n / 2 + 1));
    auto* plans = new RealFftPlan::FftwPlans;
    const int length = static_cast<int>(n);
    double* samples = scratch.data();
    auto* bins = reinterpret_cast<fftw_complex*>(scratch.data());
    plans->forward = fftw_plan_dft_r2c_1d(length, samples, bins, FFTW_ESTIMATE);
    plans->inverse = fftw_plan_dft_c2r_1d(length, bins, samples, FFTW_ESTIMATE);
    if (plans->forward == nullptr || plans->inverse == nullptr) {
        if (plans->forward) fftw_destroy_plan(plans->forward);
        if (plans->inverse) fftw_destroy_plan(plans->inverse);
        delete plans;
        throw FftError("FFTW could not plan a transform of " + std::to_string(n) + " points");
    }
    std::shared_ptr<const RealFftPlan::FftwPlans> shared(
        plans, [n](const RealFftPlan::FftwPlans* p) { DestroyPlans(p, n); });
    cache.plans[n] = shared;
    ++cache.made;
    KeepRecent(cache, shared);
    return shared;
}

void CheckBuffer(const RealFftBuffer& buffer, std::size_t n) {
    if (buffer.Size() != n) {
        throw FftError("a transform of " + std::to_string(n) + " points was given a buffer of " +
                       std::to_string(buffer.Size()));
    }
}

bool IsPowerOfTwo(std::size_t n) { return n != 0 && (n & (n - 1)) == 0; }

// The reference engine: the FFT service's dispatcher on its one-based interleaved layout, the
// radix-2 transform for power-of-two lengths (unscaled both ways) and the mixed-radix one for
// the others (its inverse carries the 1/n factor, taken out again here).
ReferenceTransform ReferenceFor(std::size_t n) {
    return IsPowerOfTwo(n) ? ReferenceTransform::Radix2 : ReferenceTransform::MixedRadix;
}

void GslForward(RealFftBuffer& buffer) {
    const std::size_t n = buffer.Size();
    std::vector<double> work(2 * n + 1, 0.0);
    const double* x = buffer.Samples();
    for (std::size_t j = 0; j < n; ++j) work[2 * j + 1] = x[j];
    Transform(work, static_cast<std::uint32_t>(n), -1, ReferenceFor(n));
    std::complex<double>* bins = buffer.Bins();
    for (std::size_t k = 0; k < buffer.BinCount(); ++k)
        bins[k] = {work[2 * k + 1], work[2 * k + 2]};
}

void GslInverse(RealFftBuffer& buffer) {
    const std::size_t n = buffer.Size();
    std::vector<double> work(2 * n + 1, 0.0);
    const std::complex<double>* bins = buffer.Bins();
    for (std::size_t k = 0; k < buffer.BinCount(); ++k) {
        work[2 * k + 1] = bins[k].real();
        work[2 * k + 2] = bins[k].imag();
    }
    for (std::size_t k = buffer.BinCount(); k < n; ++k) {
        work[2 * k + 1] = bins[n - k].real();
        work[2 * k + 2] = -bins[n - k].imag();
    }
    const ReferenceTransform kind = ReferenceFor(n);
    Transform(work, static_cast<std::uint32_t>(n), +1, kind);
    const double scale = kind == ReferenceTransform::MixedRadix ? static_cast<double>(n) : 1.0;
    double* x = buffer.Samples();
    for (std::size_t j = 0; j < n; ++j) x[j] = work[2 * j + 1] * scale;
}

}  // namespace

RealFftPlan::RealFftPlan(std::size_t n, FftEngine engine) : n_(n), engine_(engine) {
    if (n == 0 || n > static_cast<std::size_t>(INT_MAX) / 2) {
        throw FftError("cannot transform " + std::to_string(n) + " points");
    }
    if (engine_ == FftEngine::Fftw) plans_ = AcquireFftwPlans(n);
}

RealFftPlan::~RealFftPlan() = default;
RealFftPlan::RealFftPlan(RealFftPlan&&) noexcept = default;
RealFftPlan& RealFftPlan::operator=(RealFftPlan&&) noexcept = default;

void RealFftPlan::Forward(RealFftBuffer& buffer) const {
    CheckBuffer(buffer, n_);
    if (engine_ == FftEngine::Gsl) return GslForward(buffer);
    fftw_execute_dft_r2c(plans_->forward, buffer.Samples(),
                         reinterpret_cast<fftw_complex*>(buffer.Bins()));
}

void RealFftPlan::Inverse(RealFftBuffer& buffer) const {
    CheckBuffer(buffer, n_);
    if (engine_ == FftEngine::Gsl) return GslInverse(buffer);
    fftw_execute_dft_c2r(plans_->inverse, reinterpret_cast<fftw_complex*>(buffer.Bins()),
                         buffer.Samples());
}

std::vector<std::complex<double>> RealSpectrum(const std::vector<double>& x, FftEngine engine) {
    const RealFftPlan plan(x.size(), engine);
    RealFftBuffer buffer(x.size());
    std::copy(x.begin(), x.end(), buffer.Samples());
    plan.Forward(buffer);
    return {buffer.Bins(), buffer.Bins() + buffer.BinCount()};
}

std::vector<double> RealSignal(const std::vector<std::complex<double>>& bins, std::size_t n,
                               FftEngine engine) {
    const RealFftPlan plan(n, engine);
    RealFftBuffer buffer(n);
    if (bins.size() != buffer.BinCount()) {
        throw FftError(std::to_string(bins.size()) + " bins do not describe " + std::to_string(n) +
                       " samples");
    }
    std::copy(bins.begin(), bins.end(), buffer.Bins());
    plan.Inverse(buffer);
    const double scale = 1.0 / static_cast<double>(n);
    std::vector<double> x(buffer.Samples(), buffer.Samples() + n);
    for (double& v : x) v *= scale;
    return x;
}

std::uint64_t FftwPlansMade() {
    FftwPlanCache& cache = TheFftwPlanCache();
    std::lock_guard<std::recursive_mutex> lock(cache.mutex);
    return cache.made;
}

std::size_t FftwPlanLengthsHeld() {
    FftwPlanCache& cache = TheFftwPlanCache();
    std::lock_guard<std::recursive_mutex> lock(cache.mutex);
    return static_cast<std::size_t>(std::count_if(
        cache.plans.begin(), cache.plans.end(), [](const auto& p) { return !p.second.expired(); }));
}
