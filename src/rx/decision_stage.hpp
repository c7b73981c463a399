#pragma once
// The last stage of the receiver's waveform path: the DFE's decisions and the clock recovery on
// the equalised block, with their debug and dump lines (AmiRxFFTMult::RunDecisionStep). The
// stage keeps the DFE's lists of one block (clock times, tap history, clock periods) from block
// to block, so that they are refilled in the room they already have.
#include "rx/ami_rx_fft_mult.hpp"

class AmiRxFFTMult::DecisionStage : public SignalStage {
  public:
    explicit DecisionStage(AmiRxFFTMult& model) : model_(model) {}
    // The model's block is always the whole of rowSize samples.
    void Process(double* samples, std::size_t /*count*/) override {
        model_.RunDecisionStep(samples, result_);
    }
    const std::vector<double>& ClockTimes() const { return result_.clockTimes; }

  private:
    AmiRxFFTMult& model_;
    DFE::BlockResult result_;
};
