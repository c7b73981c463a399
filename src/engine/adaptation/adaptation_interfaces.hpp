#pragma once
// What the equaliser adaptation needs from the receiver, as three small interfaces: the
// candidate values of the response database, the receiver's own processing chain for one
// candidate, and the DFE that adapts on the chosen equaliser. The receiver implements them with
// its response database, its CTLE/VGA stages and its DFE; the adaptation (adaptation.hpp) only
// drives them.
#include <cstddef>
#include <span>
#include <vector>

#include "engine/fft/large_buffer.hpp"

// Indices into the lists of CandidateGrid.
struct CandidateSetting {
    int dc = 0;
    int boost = 0;
    int vga = 0;
};

// Whether the DFE of the processing chain adapts its taps while the candidate runs, or is left
// out.
enum class DfeRun { Adapt, Skip };

// The database's candidate values for the CTLE family and VGA bandwidth being adapted.
struct CandidateGrid {
    std::vector<double> dcValues;     // DC-gain settings, in database order
    std::vector<double> boostValues;  // AC-boost settings of the CTLE family
    std::vector<double> vgaGains;     // VGA gain settings; the VGA index is a position here
};

class ResponseCatalogue {
  public:
    virtual ~ResponseCatalogue() = default;
    // Empty lists when the database holds nothing for the request; a failure to read it may
    // throw (std::exception), which stops the adaptation with the exception's text.
    virtual CandidateGrid Grid() = 0;
};

class CandidateEvaluator {
  public:
    virtual ~CandidateEvaluator() = default;
    // Announces the stimulus of the Evaluate calls that follow (until the next announcement), so
    // that what every candidate of it shares can be prepared once.
    virtual void BeginStimulus(std::span<const double> /*stimulus*/) {}
    // Runs `stimulus` (the received waveform on the model's grid, periodic: see
    // stimulus_waveform.hpp) through the CTLE at (dc, boost), the VGA at `vga` and the DFE as
    // `dfe` says, and writes the processed waveform into `processed` (resized as needed; callers
    // hand the same buffers in again, so an implementation should not shrink their capacity).
    // The output's last TailSamples() samples are not measured; anything before the last
    // stimulus-length samples is not measured either, so an implementation may put a warm-up
    // in front. Calls with the same arguments must give the same output.
    virtual void Evaluate(std::span<const double> stimulus, const CandidateSetting& setting,
                          DfeRun dfe, SampleBuffer& processed) = 0;
    virtual std::size_t TailSamples() const { return 0; }

    // Candidates may run on several threads at once, each on a lane of its own: Lanes()
    // evaluators, Lane(0) being this one, each giving exactly the output this one gives. After
    // BeginStimulus, every lane may be used on its own thread while the others are; lanes other
    // than 0 evaluate only the announced stimulus (std::invalid_argument otherwise).
    virtual std::size_t Lanes() const { return 1; }
    virtual CandidateEvaluator& Lane(std::size_t /*lane*/) { return *this; }
};

// The second stage, when the DFE is on: a DFE set up for the model's grid adapts on the
// waveform the chosen CTLE and VGA produce.
struct DfeStageSetup {
    double sampleInterval = 0;              // s: 1/32 of a unit interval
    double bitTime = 0;                     // s
    std::vector<double> initialTapWeights;  // volts
    int tapCount = 0;
    int floatOffset = 0;
    int dfeMode = 0;
};

struct DfeStageResult {
    bool setUp = false;              // false: the DFE could not be set up
    std::vector<double> tapWeights;  // volts, after adaptation
    std::vector<int> tapCodes;
    double dataLevel = 0;  // V, the level the taps were learnt against (0: unknown)
};

class DfeTrainer {
  public:
    virtual ~DfeTrainer() = default;
    // Adapts on `equalised` in place: the samples are overwritten with the DFE's output.
    virtual DfeStageResult Train(std::span<double> equalised, const DfeStageSetup& setup) = 0;
};
