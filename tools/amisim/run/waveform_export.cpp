#include "amisim/run/waveform_export.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace amisim {

WaveformRange parseWaveformRange(const std::string& text) {
    const std::size_t colon = text.find(':');
    auto count = [&](const std::string& t) {
        if (t.empty() || t.find_first_not_of("0123456789") != std::string::npos || t.size() > 18)
            throw std::invalid_argument("--waveform-bits: '" + text +
                                        "' is not FROM:TO (whole bit numbers, TO excluded)");
        return std::stoull(t);
    };
    if (colon == std::string::npos)
        throw std::invalid_argument("--waveform-bits: '" + text + "' is not FROM:TO");
    WaveformRange r{count(text.substr(0, colon)), count(text.substr(colon + 1))};
    if (r.endBit <= r.firstBit)
        throw std::invalid_argument("--waveform-bits: TO must lie above FROM in '" + text + "'");
    if (r.endBit - r.firstBit > kMaxWaveformBits)
        throw std::invalid_argument("--waveform-bits: at most " + std::to_string(kMaxWaveformBits) +
                                    " bits are written, not " +
                                    std::to_string(r.endBit - r.firstBit));
    return r;
}

WaveformExport::WaveformExport(const std::string& path, WaveformRange range, int samplesPerBit,
                               double sampleInterval)
    : path_(path),
      out_(path, std::ios::trunc),
      range_(range),
      spb_(samplesPerBit),
      dt_(sampleInterval) {
    if (!out_) throw std::runtime_error("--save-waveform: cannot write '" + path + "'");
    out_ << "time_s,bit,rx_output_v,clock_time_s\n";
}

void WaveformExport::addBlock(std::uint64_t firstBit, const std::vector<double>& wave,
                              const std::vector<double>& clockTimes) {
    const std::uint64_t spb = static_cast<std::uint64_t>(spb_);
    const std::uint64_t first = firstBit * spb;
    const std::uint64_t from = std::max(first, range_.firstBit * spb);
    const std::uint64_t to = std::min<std::uint64_t>(first + wave.size(), range_.endBit * spb);
    if (from >= to) return;
    // each clock time on the row of the sample it falls on
    std::size_t c = 0;
    char line[128];
    for (std::uint64_t i = from; i < to; ++i) {
        const double t = static_cast<double>(i) * dt_;
        while (c < clockTimes.size() && clockTimes[c] < t - 0.5 * dt_) ++c;
        int n = std::snprintf(line, sizeof line, "%.9e,%llu,%.9e,", t,
                              static_cast<unsigned long long>(i / spb), wave[i - first]);
        out_.write(line, n);
        if (c < clockTimes.size() && clockTimes[c] < t + 0.5 * dt_) {
            n = std::snprintf(line, sizeof line, "%.12e", clockTimes[c]);
            out_.write(line, n);
            ++c;
        }
        out_.put('\n');
        ++rows_;
    }
}

void WaveformExport::finish() {
    out_.flush();
    if (!out_) throw std::runtime_error("--save-waveform: writing '" + path_ + "' failed");
    out_.close();
}

}  // namespace amisim
