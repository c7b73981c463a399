#include "engine/fft/fft_service.hpp"

#include <algorithm>
#include <limits>

#include "engine/fft/fft_plan_cache.hpp"

// Static TLS rather than a block the loader hands out on first use: a model library is
// loaded and unloaded many times in one process, and a dynamic block of an unloaded library
// is left for leak checkers to walk. The state is a few words, well inside the room the
// loader keeps for such libraries.
FftServiceState& fftServiceState() {
    thread_local FftServiceState state __attribute__((tls_model("initial-exec")));
    return state;
}

namespace {

void checkBuffer(const ComplexBuffer& buf, const char* operation) {
    if (buf.data.size() != 2 * static_cast<std::size_t>(buf.count)) {
        throw FftError(std::string(operation) + ": buffer of " + std::to_string(buf.count) +
                       " points holds " + std::to_string(buf.data.size()) + " doubles instead of " +
                       std::to_string(2 * static_cast<std::size_t>(buf.count)));
    }
}

void checkStatus(int status, const char* operation) {
    if (status != 0)
        throw FftError(std::string(operation) + " failed (GSL status " + std::to_string(status) +
                       ")");
}

}  // namespace

void RealForward(ComplexBuffer& out, const std::vector<double>& x) {
    auto& slot = fftServiceState().realForward;
    if (x.empty()) {
        slot.release();
        out = ComplexBuffer();
        return;
    }
    if (x.size() > std::numeric_limits<std::uint32_t>::max()) {
        throw FftError("RealForward: " + std::to_string(x.size()) + " points is too long");
    }
    const std::size_t n = x.size();
    slot.prepare(n);

    // Transform in the lower half of the result, then spread the packed half spectrum over the
    // whole buffer: no second temporary of the signal's size. The output's storage is reused
    // when it already has the size (repeated transforms of one length), unless it is the input.
    std::vector<double> spectrum;
    if (&x != &out.data) spectrum.swap(out.data);
    spectrum.resize(2 * n);
    std::copy(x.begin(), x.end(), spectrum.begin());
    double* d = spectrum.data();
    const int status = gsl_fft_real_transform(d, 1, n, slot.tables(), slot.work());
    if (status != 0) {
        out = ComplexBuffer();
        checkStatus(status, "RealForward");
    }

    // Packed layout: d[0] = Re X0; d[2k-1], d[2k] = Re, Im X[k] for 1 <= k < n/2 (k <= (n-1)/2
    // when n is odd); d[n-1] = Re X[n/2] when n is even. Upper-half points (written above index
    // n-1) are filled first, then the lower half moves up one place, from the top down, so no
    // packed value is overwritten before it is read.
    for (std::size_t k = n - 1; k > n / 2; --k) {
        const std::size_t m = n - k;
        d[2 * k] = d[2 * m - 1];
        d[2 * k + 1] = -d[2 * m];
    }
    if (n % 2 == 0) {
        d[n] = d[n - 1];
        d[n + 1] = 0.0;
    }
    for (std::size_t k = (n - 1) / 2; k >= 1; --k) {
        const double re = d[2 * k - 1];
        const double im = d[2 * k];
        d[2 * k] = re;
        d[2 * k + 1] = im;
    }
    d[1] = 0.0;

    out.count = static_cast<std::uint32_t>(n);
    out.data = std::move(spectrum);
}

void ComplexForward(ComplexBuffer& buf) {
    auto& slot = fftServiceState().complexForward;
    if (buf.count == 0) {
        slot.release();
        buf = ComplexBuffer();
        return;
    }
    checkBuffer(buf, "ComplexForward");
    slot.prepare(buf.count);
    checkStatus(gsl_fft_complex_forward(buf.data.data(), 1, buf.count, slot.tables(), slot.work()),
                "ComplexForward");
}

void ComplexInverse(ComplexBuffer& buf) {
    auto& slot = fftServiceState().complexInverse;
    if (buf.count == 0) {
        slot.release();
        buf = ComplexBuffer();
        return;
    }
    checkBuffer(buf, "ComplexInverse");
    slot.prepare(buf.count);
    checkStatus(gsl_fft_complex_backward(buf.data.data(), 1, buf.count, slot.tables(), slot.work()),
                "ComplexInverse");
    const double scale = 1.0 / buf.count;
    for (double& v : buf.data) v *= scale;
}

void ReleaseAll() {
    ComplexBuffer empty;
    ComplexForward(empty);
    RealForward(empty, {});
    ComplexInverse(empty);
}

void Four1Adaptor(double* data, std::uint32_t n, int sign) {
    if (n == 0) return;
    if (sign == -1) {
        std::vector<double> signal(n);
        for (std::size_t k = 0; k < n; ++k) signal[k] = data[2 * k + 1];
        ComplexBuffer spectrum;
        RealForward(spectrum, signal);
        std::copy(spectrum.data.begin(), spectrum.data.end(), data + 1);
    } else {
        ComplexBuffer buf(n);
        std::copy(data + 1, data + 1 + 2 * static_cast<std::size_t>(n), buf.data.begin());
        ComplexInverse(buf);
        std::copy(buf.data.begin(), buf.data.end(), data + 1);
    }
}

void Transform(double* data, std::uint32_t n, int sign, ReferenceTransform kind) {
    if (kind == ReferenceTransform::MixedRadix) {
        Four1Adaptor(data, n, sign);
    } else {
        Radix2Transform(data, n, sign);
    }
}

namespace {

void checkOneBased(const std::vector<double>& data, std::uint32_t n, const char* operation) {
    const std::size_t needed = 2 * static_cast<std::size_t>(n) + 1;
    if (data.size() < needed) {
        throw FftError(std::string(operation) + ": " + std::to_string(n) + " points need " +
                       std::to_string(needed) + " doubles, array holds " +
                       std::to_string(data.size()));
    }
}

}  // namespace

void Radix2Transform(std::vector<double>& data, std::uint32_t n, int sign) {
    checkOneBased(data, n, "Radix2Transform");
    Radix2Transform(data.data(), n, sign);
}

void Four1Adaptor(std::vector<double>& data, std::uint32_t n, int sign) {
    checkOneBased(data, n, "Four1Adaptor");
    Four1Adaptor(data.data(), n, sign);
}

void Transform(std::vector<double>& data, std::uint32_t n, int sign, ReferenceTransform kind) {
    checkOneBased(data, n, "Transform");
    Transform(data.data(), n, sign, kind);
}
