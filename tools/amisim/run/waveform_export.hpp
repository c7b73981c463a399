#pragma once
// The receiver's time-domain output over a range of bits, written as CSV for users who
// post-process in their own tools: one row per sample, with the recovered clock time on the
// row of the sample it falls on.
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace amisim {

struct WaveformRange {
    std::uint64_t firstBit = 0, endBit = 0;  // bits [firstBit, endBit)
};

// Parses "FROM:TO" (bits, TO exclusive); throws std::invalid_argument with a clear message.
WaveformRange parseWaveformRange(const std::string& text);

// At most this many bits: a longer stretch makes a file no tool opens comfortably.
constexpr std::uint64_t kMaxWaveformBits = 1000000;

class WaveformExport {
  public:
    // Opens `path` for writing and writes the header; throws std::runtime_error when it cannot.
    WaveformExport(const std::string& path, WaveformRange range, int samplesPerBit,
                   double sampleInterval);
    // Block of the receiver's output starting at bit `firstBit`, with the clock times the
    // receiver returned for it (seconds from the start of the simulation).
    void addBlock(std::uint64_t firstBit, const std::vector<double>& wave,
                  const std::vector<double>& clockTimes);
    // Flushes; throws std::runtime_error when the file could not be written whole.
    void finish();
    std::uint64_t rows() const { return rows_; }

  private:
    std::string path_;
    std::ofstream out_;
    WaveformRange range_;
    int spb_;
    double dt_;
    std::uint64_t rows_ = 0;
};

}  // namespace amisim
