#pragma once
// Eye measurement on the receiver's output waveform, fed block by block: at the receiver's
// clock times when it returns them, else at every phase of a unit interval (best phase).
#include <cstdint>
#include <vector>

namespace amisim {

struct TdEyeResult {
    bool usedClockTimes = false;
    double eyeHeight = 0;    // volts, inner opening (never negative)
    double opening = 0;      // volts, may be negative when the eye is closed
    double eyeWidth = 0;     // UI
    double bestPhaseUi = 0;  // best sampling phase from the main cursor (best-phase sampling)
    std::uint64_t sampledBits = 0;
    std::uint64_t bitErrors = 0;  // decisions at the sampling instants that differ from the data
    std::uint64_t clockTimes = 0;
    double meanClockPeriod = 0;  // seconds, from the clock times
    int bitShift = 0;            // alignment correction found from the data, in bits
    // eye picture: counts over 2 UI (columns) by voltage (rows)
    int pictureColumns = 0, pictureRows = 0;
    double vMin = 0, vMax = 0;
    std::vector<double> picture;
};

class TdEye {
  public:
    // `bits`: the transmitted bits; `mainIndex`: sample of the pulse peak after one bit starts,
    // which places bit k's centre at sample k*samplesPerBit + mainIndex.
    TdEye(const std::vector<std::uint8_t>& bits, int samplesPerBit, double sampleInterval,
          std::size_t mainIndex, std::uint64_t ignoreBits);

    // Consecutive receiver output blocks and the clock times the receiver returned for them.
    void addBlock(const std::vector<double>& wave, const std::vector<double>& clockTimes);
    TdEyeResult finish();

  private:
    static constexpr int kShifts = 2;  // alignment is checked over -2 .. +2 bits
    struct PhaseStats {
        std::vector<double> minOne, maxZero;
        std::vector<std::uint64_t> errors;
        std::vector<std::uint64_t> count;
    };
    void addSamplePhases(std::uint64_t first, const std::vector<double>& wave);
    void drainClockTimes(bool final);
    double valueAt(double t) const;
    static PhaseStats makeStats(std::size_t n);
    static void update(PhaseStats& s, std::size_t i, bool one, double v);

    const std::vector<std::uint8_t>& bits_;
    int spb_;
    double dt_;
    double bitTime_;
    std::size_t main_;
    std::uint64_t ignore_;
    std::uint64_t samplesSeen_ = 0;
    // best-phase statistics: [shift][phase], phases -spb/2 .. spb/2-1 around the centre
    std::vector<PhaseStats> phaseStats_;
    // clock-time statistics: [shift][offset], offsets -spb/2 .. spb/2 samples from the centre
    std::vector<PhaseStats> clockStats_;
    std::vector<double> pendingClocks_;
    std::vector<double> window_;  // recent output samples, window_[0] is sample windowStart_
    std::uint64_t windowStart_ = 0;
    std::uint64_t clockCount_ = 0;
    double firstClock_ = -1, lastClock_ = -1;
    // samples kept for the picture
    std::vector<float> pictureSamples_;
    std::uint64_t pictureStart_ = 0;
};

}  // namespace amisim
