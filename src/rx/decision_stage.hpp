#pragma once
// The last stage of the receiver's waveform path: the DFE's decisions and the clock recovery on
// the equalised block, with their debug and dump lines (AmiRxFFTMult::RunDecisionStep).
#include "rx/ami_rx_fft_mult.hpp"

class AmiRxFFTMult::DecisionStage : public SignalStage {
  public:
    explicit DecisionStage(AmiRxFFTMult& model) : model_(model) {}
    // The model's block is always the whole of rowSize samples.
    void Process(double* samples, std::size_t /*count*/) override {
        model_.RunDecisionStep(samples, model_.clockTimes_);
    }

  private:
    AmiRxFFTMult& model_;
};
