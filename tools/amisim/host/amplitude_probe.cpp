#include "amisim/host/amplitude_probe.hpp"

#include <sched.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace amisim {

namespace {
constexpr double kDriveVolts = 4.0;
constexpr int kHoldBits = 64;  // each level is held this long, so that every filter settles
constexpr int kHalfPeriods = 6;
}  // namespace

std::optional<OutputRange> probeOutputRange(const AmiLibrary& lib, std::vector<double> impulse,
                                            double sampleInterval, double bitTime,
                                            const std::string& parametersIn, int samplesPerBit) {
    if (!lib.getWave) return std::nullopt;
    try {
        AmiInstance inst(lib, impulse, sampleInterval, bitTime, parametersIn);
        const std::size_t hold =
            static_cast<std::size_t>(kHoldBits) * static_cast<std::size_t>(samplesPerBit);
        std::vector<double> wave, clocks;
        OutputRange r{std::numeric_limits<double>::infinity(),
                      -std::numeric_limits<double>::infinity()};
        for (int h = 0; h < kHalfPeriods; ++h) {
            const double level = h % 2 == 0 ? kDriveVolts : -kDriveVolts;
            wave.assign(hold, level);
            inst.getWave(wave, clocks);
            if (h < 2) continue;  // the first swing starts the filters from rest
            // the settled second half of each level
            for (std::size_t i = hold / 2; i < hold; ++i) {
                if (!std::isfinite(wave[i])) return std::nullopt;
                if (level > 0)
                    r.high = std::max(r.high, wave[i]);
                else
                    r.low = std::min(r.low, wave[i]);
            }
        }
        if (!(r.high > 0) || !(r.low < 0)) return std::nullopt;
        return r;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::future<std::optional<std::optional<OutputRange>>> startOutputRangeProbe(
    const AmiLibrary& lib, std::vector<double> impulse, double sampleInterval, double bitTime,
    std::string parametersIn, int samplesPerBit) {
    return std::async(std::launch::async,
                      [&lib, impulse = std::move(impulse), sampleInterval, bitTime,
                       parametersIn = std::move(parametersIn),
                       samplesPerBit]() mutable -> std::optional<std::optional<OutputRange>> {
                          // The console capture moves descriptor 1; in a shared table that would
                          // take the real models' output too.
                          if (unshare(CLONE_FILES) != 0) return std::nullopt;
                          return probeOutputRange(lib, std::move(impulse), sampleInterval, bitTime,
                                                  parametersIn, samplesPerBit);
                      });
}

}  // namespace amisim
