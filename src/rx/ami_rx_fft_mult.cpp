#include "rx/ami_rx_fft_mult.hpp"

#include <algorithm>
#include <cmath>
#include <new>
#include <string>

#include "engine/fft_service.hpp"
#include "framework/ts_exceptions.hpp"
#include "rx/fft_size.hpp"
#include "rx/rx_format.hpp"
#include "rx/spectrum_multiply.hpp"

using v10kx_ami_rx::Format;
using v10kx_ami_rx::MultiplySpectrum;

namespace {

std::vector<double> Zeros(std::size_t count) {
    try {
        return std::vector<double>(count, 0.0);
    } catch (const std::bad_alloc&) {
        throw EFailedAllocation(Format("%ld doubles", static_cast<long>(count)));
    } catch (const std::length_error&) {
        throw EFailedAllocation(Format("%ld doubles", static_cast<long>(count)));
    }
}

}  // namespace

AmiRxFFTMult::AmiRxFFTMult(long row_size, int aggressors, double sample_interval, double bit_time,
                           const char* AMI_parameters_in)
    : AmiModel(row_size, aggressors, sample_interval, bit_time, AMI_parameters_in) {
    adaptDumpsAllowed = true;
}

AmiRxFFTMult::~AmiRxFFTMult() {
    // The plans were built for this model's lengths; the next model builds its own.
    ReleaseAll();
}

void AmiRxFFTMult::Configure() {
    const double spb = bitTime / sampleInterval;
    const std::int64_t n = rowSize;
    const bool mixedRadix = GetFftSelector() == kFftSelectorMixedRadix;
    const std::int64_t size = v10kx_ami_rx::ChooseFftSize(n, spb, mixedRadix);
    if (debugOn) {
        const std::string text = Format("Nfft: %ld\n", static_cast<long>(size));
        msgLog += text;
        WriteDebug(text);
    }

    // Everything is built aside and committed at the end, so that a failed allocation leaves
    // the previous configuration whole (and recognisably not the one for rowSize).
    const std::size_t points = static_cast<std::size_t>(size);
    std::vector<double> work;
    std::vector<double> history;
    if (size != prevFftSize) {
        work = Zeros(2 * points + 1);
        history = Zeros(points);
        // Keep the newest samples of the old history, aligned to the end.
        const std::size_t oldSize = historyBuffer.size();
        if (points >= oldSize) {
            std::copy(historyBuffer.begin(), historyBuffer.end(),
                      history.begin() + static_cast<std::ptrdiff_t>(points - oldSize));
        } else {
            std::copy(historyBuffer.end() - static_cast<std::ptrdiff_t>(points),
                      historyBuffer.end(), history.begin());
        }
    }
    const double spacing = 1.0 / (static_cast<double>(size) * sampleInterval);
    std::vector<std::vector<std::complex<double>>> spectra(stageResponses.size());
    for (std::size_t k = 0; k < stageResponses.size(); ++k) {
        std::vector<std::complex<double>>& s = spectra[k];
        try {
            s.resize(points);
        } catch (const std::bad_alloc&) {
            throw EFailedAllocation(Format("%ld doubles", static_cast<long>(2 * points)));
        }
        const StageSampler sample(stageResponses[k]);
        for (std::size_t i = 0; i <= points / 2; ++i)
            s[i] = sample(static_cast<double>(i) * spacing);
        for (std::size_t i = points / 2 + 1; i < points; ++i) s[i] = std::conj(s[points - i]);
    }

    fftSize = static_cast<std::int32_t>(size);
    padSize = static_cast<std::int32_t>(size - n);
    if (fftSize != prevFftSize) {
        workBuffer.swap(work);
        historyBuffer.swap(history);
        prevFftSize = fftSize;
    }
    binSpacing = spacing;
    gridSpectra.swap(spectra);
}

bool AmiRxFFTMult::ConfiguredForRowSize() const {
    const std::size_t points = static_cast<std::size_t>(fftSize);
    if (fftSize <= 0 || static_cast<std::int64_t>(padSize) + rowSize != fftSize ||
        workBuffer.size() != 2 * points + 1 || historyBuffer.size() != points ||
        gridSpectra.size() != stageResponses.size()) {
        return false;
    }
    return std::all_of(gridSpectra.begin(), gridSpectra.end(),
                       [points](const auto& s) { return s.size() == points; });
}

void AmiRxFFTMult::Init(double* impulseMatrix, int impulseFlag) {
    // The impulse is transformed once with the power-of-two engine and its length rule.
    ScopedFftSelector radix2(kFftSelectorRadix2);
    const bool haveImpulse = impulseMatrix != nullptr && rowSize > 0;

    if (debugOn && haveImpulse) {
        WriteDebug("Pre-init Impulse Response:");
        // One line per sample, handed over (and flushed) once rather than per sample.
        std::string lines;
        for (std::int32_t i = 0; i < rowSize; ++i) {
            if (i > 0) lines += '\n';
            lines += Format("%e", impulseMatrix[i]);
        }
        WriteDebug(lines);
    }
    AmiModel::Init();
    lastInputSample = 0;
    lastOutputSample = 0;
    if (!haveImpulse) return;

    // Work on a copy so that a failure leaves the simulator's impulse response untouched.
    blockBuffer_.assign(impulseMatrix, impulseMatrix + rowSize);
    std::vector<double> clockTimes;
    FilterBlock(blockBuffer_.data(), impulseFlag != 0, clockTimes);

    if (dfe) {
        const double* row0 = blockBuffer_.data();
        std::int32_t maxIndex = 0;
        double maxValue = 0.0;
        for (std::int32_t i = 0; i < rowSize; ++i) {
            if (row0[i] > maxValue) {
                maxValue = row0[i];
                maxIndex = i;
            }
        }
        if (debugOn) WriteDebug(Format("max_ind: %ld", static_cast<long>(maxIndex)));
        const std::vector<double> weights = dfe->TapWeights();
        const std::vector<int> codes = dfe->TapCodes();
        const std::size_t count = std::min(weights.size(), codes.size());
        if (count > 0) {
            ReportTaps(weights, codes);
            paramsOut += ")\n";
            // Each tap replaces the sample one bit further after the main cursor; taps that
            // would land past the end of the response are not written.
            // Counted in doubles: a nonsensical timing ratio must not overflow an integer.
            const double step = std::trunc(bitTime / sampleInterval + 0.5);
            double position = maxIndex;
            for (std::size_t k = 0; k < count && step > 0; ++k) {
                position += step;
                if (!(position < rowSize)) break;
                blockBuffer_[static_cast<std::size_t>(position)] =
                    -0.5 * weights[k] / sampleInterval;
            }
        }
    }
    std::copy(blockBuffer_.begin(), blockBuffer_.end(), impulseMatrix);
}

void AmiRxFFTMult::ReportTaps(const std::vector<double>& weights, const std::vector<int>& codes) {
    const std::size_t close = paramsOut.rfind(')');
    reportCut = close == std::string::npos ? paramsOut.size() : close;
    paramsOut.resize(reportCut);
    const std::size_t count = std::min(weights.size(), codes.size());
    for (std::size_t k = 0; k < count; ++k) {
        paramsOut += Format(" (tap_%d %d %f)", static_cast<int>(k + 1), codes[k], weights[k]);
    }
}

void AmiRxFFTMult::FilterBlock(double* samples, bool impulse, std::vector<double>& clockTimes) {
    clockTimes.clear();
    if (rowSize <= 0) return;
    if (impulse) {
        FilterImpulse(samples);
    } else {
        FilterWaveform(samples, clockTimes);
    }
}

void AmiRxFFTMult::FilterImpulse(double* samples) {
    const std::size_t n = static_cast<std::size_t>(rowSize);
    const std::size_t pad = static_cast<std::size_t>(padSize);
    const std::uint32_t size = static_cast<std::uint32_t>(fftSize);

    std::fill(historyBuffer.begin(), historyBuffer.begin() + static_cast<std::ptrdiff_t>(pad), 0.0);
    std::copy(samples, samples + n, historyBuffer.begin() + static_cast<std::ptrdiff_t>(pad));

    // Without stages the transform pair would only add rounding.
    if (!stageResponses.empty()) {
        for (std::size_t i = 0; i < size; ++i) {
            workBuffer[2 * i + 1] = historyBuffer[i];
            workBuffer[2 * i + 2] = 0.0;
        }
        Transform(workBuffer, size, -1);
        for (const auto& spectrum : gridSpectra) MultiplySpectrum(workBuffer, spectrum);
        Transform(workBuffer, size, +1);
        const double scale = 1.0 / static_cast<double>(size);
        for (std::size_t i = 0; i < n; ++i) samples[i] = workBuffer[2 * (pad + i) + 1] * scale;
    }
    // The first waveform block starts from an empty history.
    std::fill(historyBuffer.begin(), historyBuffer.end(), 0.0);
}
