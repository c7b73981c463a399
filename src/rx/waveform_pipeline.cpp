// Time-domain path of the receiver: each AMI_GetWave block runs through the stage cascade by
// overlap-save (each stage followed by its static amplitude curve), then through the DFE and
// clock recovery.
#include <algorithm>
#include <cstdint>
#include <limits>

#include "rx/ami_rx_fft_mult.hpp"
#include "rx/clock_times.hpp"
#include "rx/rx_format.hpp"
#include "rx/rx_identity.hpp"
#include "rx/rx_process_state.hpp"

using v10kx_ami_rx::Format;

namespace {

// Extremes of a block for the DFE debug lines; the search starts from -1 and +1.
std::pair<double, double> BlockExtremes(const double* samples, std::int64_t count) {
    double maximum = -1.0;
    double minimum = 1.0;
    for (std::int64_t i = 0; i < count; ++i) {
        maximum = std::max(maximum, samples[i]);
        minimum = std::min(minimum, samples[i]);
    }
    return {maximum, minimum};
}

}  // namespace

std::int32_t AmiRxFFTMult::GetWave(double* wave, long wave_size, double* clock_times) {
    // Appended piecewise: "(" + std::string&& trips a false -Wrestrict of GCC 12 at -O3.
    std::string open = "(";
    open += paramTree ? paramTree->rootName : std::string(v10kx_ami_rx::kRootName);
    open += "\n";
    paramsOut = open;
    // Whatever happens below, a simulator that reads the clock times finds them terminated
    // rather than the times of an earlier block.
    if (clock_times != nullptr) clock_times[0] = -1.0;
    if (wave_size < 0 || wave_size > std::numeric_limits<std::int32_t>::max() ||
        (wave_size > 0 && wave == nullptr)) {
        paramsOut += ")\n";
        return 0;
    }
    if (wave_size == 0) {
        // Nothing to filter; keep the configuration and history for the next real block.
        paramsOut += ")\n";
        ++v10kx_ami_rx::TheReceiverProcessState().getWaveCalls;
        return 1;
    }

    try {
        // The base reconfigures when the block length changes; a block as long as the impulse,
        // or one after a failed reconfiguration, is set up here (ConfigureForBlocks decides).
        AmiModel::GetWave(wave, wave_size, clock_times);
        ConfigureForBlocks();
        // The block is filtered on a copy and handed back only when everything succeeded.
        blockBuffer_.assign(wave, wave + wave_size);
        FilterBlock(blockBuffer_.data(), false);
        std::copy(blockBuffer_.begin(), blockBuffer_.end(), wave);
        v10kx_ami_rx::WriteClockTimes(BlockClockTimes(), clock_times, wave_size,
                                      bitTime / sampleInterval);
    } catch (...) {
        paramsOut = open + ")\n";
        if (clock_times != nullptr) clock_times[0] = -1.0;
        throw;
    }
    AmiModel::GetWaveEnd(wave, wave_size, clock_times);
    paramsOut += ")\n";
    WriteDebug(paramsOut);
    ++v10kx_ami_rx::TheReceiverProcessState().getWaveCalls;
    return 1;
}

void AmiRxFFTMult::FilterWaveform(double* samples) {
    const std::size_t n = static_cast<std::size_t>(rowSize);
    if (debugOn) {
        WriteDebug(Format("At time, %e s, input jump: %f V.\n", blockStartTime,
                          samples[0] - lastInputSample));
    }
    lastInputSample = samples[n - 1];

    // Each CTLE stage and the VGA by overlap-save, each followed by its amplitude curve, then
    // the decision step, which keeps the clock times.
    chain_.Process(samples, n);

    if (debugOn) {
        WriteDebug(Format("At time, %e s, output jump: %f V.\n", blockStartTime,
                          samples[0] - lastOutputSample));
    }
    lastOutputSample = samples[n - 1];

    if (dfe && dfe->IsActive()) {
        dfe->CurrentTaps(reportWeights_, reportCodes_);
        ReportTaps(reportWeights_, reportCodes_);
    }
    if (dfe && dfe->RecoversClock()) {
        // Where the clock recovery's present lock began, and the clock times that could not
        // be handed over, so that a simulator can tell a settled eye and a complete clock.
        paramsOut += Format(" (cdr_lock_bit %lld) (clock_times_dropped %llu)",
                            static_cast<long long>(dfe->LockBit()),
                            static_cast<unsigned long long>(dfe->ClockTimesDropped()));
    }
}

void AmiRxFFTMult::RunDecisionStep(double* samples, DFE::BlockResult& result) {
    const bool active = dfe->IsActive();
    if (active && debugOn) {
        const auto [maximum, minimum] = BlockExtremes(samples, rowSize);
        WriteDebug(Format("DFE input: max. = %f, min. = %f.\n", maximum, minimum));
    }
    dfe->SetRecording(dumpDfeOn, dumpCdrOn);
    dfe->Process(samples, rowSize, blockStartTime, result);
    if (active && debugOn) {
        const auto [maximum, minimum] = BlockExtremes(samples, rowSize);
        WriteDebug(Format("DFE output: max. = %f, min. = %f.\n", maximum, minimum));
    }
    if (dumpDfeOn) {
        for (const std::vector<double>& record : result.tapHistory) {
            for (double value : record) dfeDumpFile << Format("%10.6f\t", value);
            dfeDumpFile << "\n";
        }
    }
    if (dumpCdrOn) {
        const std::size_t count = std::min(result.clockPeriods.size(), result.lockFlags.size());
        for (std::size_t i = 0; i < count; ++i) {
            cdrDumpFile << Format("%17.6e\t%d\n", result.clockPeriods[i], result.lockFlags[i]);
        }
    }
    if (debugOn) {
        WriteDebug(Format(dfe->IsLocked() ? "CDR is locked at time, %e s.\n"
                                          : "CDR is not locked at time, %e s.\n",
                          blockStartTime));
    }
}
