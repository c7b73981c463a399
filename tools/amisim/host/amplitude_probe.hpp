#pragma once
// The receiver's output range: a separate receiver instance with the run's settings is driven
// by a slow +-4 V square wave, far beyond any real input, so that every amplitude curve of its
// chain saturates; the levels it settles at are the largest the receiver can put out. A
// time-domain waveform that comes close to them is being compressed by those curves, which the
// impulse response of the statistical mode never meets.
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "amisim/host/ami_library.hpp"

namespace amisim {

struct OutputRange {
    double low = 0, high = 0;  // volts
};

// `impulse` is the row AMI_Init gets (the instance's own copy is processed and dropped).
// Returns nothing when the model fails or gives no usable output.
std::optional<OutputRange> probeOutputRange(const AmiLibrary& lib, std::vector<double> impulse,
                                            double sampleInterval, double bitTime,
                                            const std::string& parametersIn, int samplesPerBit);

// The same on a thread of its own, alongside the time-domain loop. The thread's standard output
// is its own (a private descriptor table), so that what the probe instance prints is never
// taken for the real models' console lines. The result holds nothing at all when the thread
// could not get that table; the caller then probes in its own thread.
std::future<std::optional<std::optional<OutputRange>>> startOutputRangeProbe(
    const AmiLibrary& lib, std::vector<double> impulse, double sampleInterval, double bitTime,
    std::string parametersIn, int samplesPerBit);

}  // namespace amisim
