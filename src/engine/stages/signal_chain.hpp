#pragma once
// stages/: block stages of a signal path on transform grids (overlap-save filter, amplitude curve).
//
// A signal path as a chain of stages, each with its own state, run block after block: the
// output of one stage is the input of the next, in place.
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

class SignalStage {
  public:
    virtual ~SignalStage() = default;
    // Processes `count` samples in place, continuing from the state the previous block left.
    virtual void Process(double* samples, std::size_t count) = 0;
};

class SignalChain {
  public:
    void Append(std::unique_ptr<SignalStage> stage) { stages_.push_back(std::move(stage)); }
    void Clear() { stages_.clear(); }
    bool Empty() const { return stages_.empty(); }
    std::size_t StageCount() const { return stages_.size(); }
    SignalStage& Stage(std::size_t k) { return *stages_[k]; }

    // Runs the block through every stage in order.
    void Process(double* samples, std::size_t count) {
        for (const auto& stage : stages_) stage->Process(samples, count);
    }

  private:
    std::vector<std::unique_ptr<SignalStage>> stages_;
};
