#pragma once
// The receiver's own chain for the equaliser adaptation's candidates: the CTLE stages and the
// VGA, each a filter followed by its amplitude curve, then the DFE adapting its taps.
//
// The adaptation's stimulus is periodic (one period of the received pattern, see
// stimulus_waveform.hpp), so a filter on it is a circular convolution over the whole period:
// one transform pair of the stimulus length gives the steady-state output exactly, with no
// history to warm up. The candidates of a sweep share prefixes of the chain, and this evaluator
// works out each shared part once:
//   - the stimulus spectrum, once per stimulus;
//   - the CTLE output and its spectrum, once per (DC, boost) setting, for all its VGA gains;
//   - each VGA stage's response on the grid, once per VGA gain.
// A VGA candidate then costs one multiplication, one inverse transform, its amplitude curve and
// the DFE. Buffers are kept between candidates. CTLE settings may run on several lanes at once
// (threads of the sweep), each lane with its own buffers, CTLE output and DFE; the stimulus
// spectrum and the VGA stages are shared. A stimulus made of two identical halves (a
// longer run of the same pattern) is evaluated on one half and its output repeated: a periodic
// signal's circular filtering over two periods is its filtering over one, twice. When that half
// has the spectrum of the stimulus before, what was worked out for it still holds.
#include <complex>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "engine/adaptation/adaptation_interfaces.hpp"
#include "engine/fft/large_buffer.hpp"
#include "engine/fft/real_fft_plan.hpp"
#include "engine/stages/amplitude_curve_stage.hpp"
#include "rx/stage_response.hpp"

namespace v10kx_ami_rx {

// A stage of a candidate's chain: its frequency response and its amplitude curve (no curve when
// the tables are empty).
struct ChainStage {
    StageResponse response;
    std::vector<double> curveIn;
    std::vector<double> curveOut;
};

// The stages of the candidates, by their indices into the catalogue's lists.
class CandidateStageSource {
  public:
    virtual ~CandidateStageSource() = default;
    // The CTLE stages (one or four, in order) of a DC-gain and AC-boost index.
    virtual std::vector<ChainStage> CtleStages(int dc, int boost) = 0;
    virtual ChainStage VgaStage(int vga) = 0;
};

// The DFE of a candidate: set up afresh, it adapts while it runs over the waveform in place.
class CandidateDfe {
  public:
    virtual ~CandidateDfe() = default;
    // False when no DFE can be set up; the samples are then left as they are.
    virtual bool Equalise(std::span<double> samples) = 0;
    // Another DFE set up alike, for a candidate running on another thread at the same time;
    // null when there can be only one.
    virtual std::unique_ptr<CandidateDfe> NewLane() const { return nullptr; }
};

class PeriodicCandidateChain : public CandidateEvaluator {
  public:
    // Stimuli are sampled every `sampleInterval` seconds and hold an even number of samples.
    // Without `dfe`, DfeRun::Adapt runs no DFE. Up to `lanes` lanes (each with a DFE of its
    // own, made by dfe->NewLane()); the outputs are the same on every lane.
    PeriodicCandidateChain(CandidateStageSource& stages, double sampleInterval, CandidateDfe* dfe,
                           std::size_t lanes = 1);
    ~PeriodicCandidateChain() override;

    // Makes the transforms of stimuli of `samples` samples ahead, so that the stimulus build
    // (which transforms on the same length) shares them.
    void PlanFor(std::size_t samples);

    void BeginStimulus(std::span<const double> stimulus) override;
    // Raises std::invalid_argument for an odd or empty stimulus and whatever the stage source
    // raises for a setting it cannot supply.
    void Evaluate(std::span<const double> stimulus, const CandidateSetting& setting, DfeRun dfe,
                  SampleBuffer& processed) override;
    std::size_t Lanes() const override;
    CandidateEvaluator& Lane(std::size_t lane) override;

  private:
    class LaneChain;
    using Bins = std::vector<std::complex<double>, LargeAllocator<std::complex<double>>>;
    struct GridStage {
        Bins bins;
        std::unique_ptr<AmplitudeCurveStage> curve;  // null: no amplitude curve
    };
    // The stage source is not made for several threads: its lookups are serialised.
    std::vector<ChainStage> CtleStages(int dc, int boost);
    // `stage` on the grid, into `bins` (resized to the grid's bins).
    void SampleStage(const StageResponse& stage, Bins& bins) const;
    // Made on first use, under a lock; the reference stays valid until the grid changes.
    const GridStage& Vga(int vga);
    // The announced stimulus, checked against `stimulus`.
    bool IsAnnounced(std::span<const double> stimulus) const {
        return n_ != 0 && stimulus.data() == stimulus_ && stimulus.size() == stimulusSize_;
    }

    CandidateStageSource& stages_;
    std::mutex stagesMutex_;
    double sampleInterval_;
    std::size_t lanes_;
    CandidateDfe* firstDfe_;  // of lane 0
    // Lane 0 evaluates for this chain; the others are made when first asked for.
    std::vector<std::unique_ptr<LaneChain>> laneChains_;
    std::vector<std::unique_ptr<CandidateDfe>> laneDfes_;  // of lanes 1, 2, ... (0 is null)

    std::size_t n_ = 0;  // the grid: samples of one period
    const double* stimulus_ = nullptr;
    std::size_t stimulusSize_ = 0;        // n_ or 2 n_
    std::uint64_t stimulusSpectrum_ = 0;  // counts the stimulus spectra met
    std::unique_ptr<RealFftPlan> plan_;
    Bins stimulusBins_;
    std::mutex vgaMutex_;
    std::map<int, GridStage> vgaStages_;
};

}  // namespace v10kx_ami_rx
