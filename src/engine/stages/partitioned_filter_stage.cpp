#include "engine/stages/partitioned_filter_stage.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "engine/stages/overlap_save_chain.hpp"

namespace {

constexpr std::size_t kMinTransform = 16;
constexpr std::size_t kMaxTransform = std::size_t{1} << 24;

// L log2 L, growing by 7 % per doubling beyond that as the transform leaves the faster caches.
double TransformCost(std::size_t length) {
    const double l = static_cast<double>(length);
    const double stages = std::log2(l);
    return l * stages * std::pow(1.07, stages);
}

}  // namespace

std::size_t ChooseStageTransformLength(std::size_t taps, std::size_t blockLength) {
    const std::size_t history = taps > 0 ? taps - 1 : 0;
    const std::size_t block = std::max<std::size_t>(blockLength, 1);
    std::size_t length = kMinTransform;
    while (length <= history) length *= 2;
    std::size_t best = 0;
    double bestCost = 0;
    for (; length <= kMaxTransform; length *= 2) {
        const std::size_t capacity = length - history;
        const std::size_t passes = (block + capacity - 1) / capacity;
        const double cost = static_cast<double>(passes) * TransformCost(length);
        if (best == 0 || cost < bestCost) {
            best = length;
            bestCost = cost;
        }
        // Longer transforms only add cost once one pass holds the block.
        if (passes == 1) break;
    }
    if (best == 0) throw std::invalid_argument("a response too long for any transform");
    return best;
}

PartitionedFilterStage::PartitionedFilterStage(std::vector<double> taps, std::size_t blockLength,
                                               FftEngine engine)
    : taps_(std::move(taps)), engine_(engine) {
    if (taps_.empty()) throw std::invalid_argument("a filter stage needs at least one tap");
    history_.assign(taps_.size() - 1, 0.0);
    if (blockLength > 0) SetBlockLength(blockLength);
}

void PartitionedFilterStage::SetBlockLength(std::size_t blockLength) {
    const std::size_t length = ChooseStageTransformLength(taps_.size(), blockLength);
    if (length != TransformLength()) Plan(length);
}

void PartitionedFilterStage::Plan(std::size_t length) {
    // Built aside, so that a failure leaves the stage as it was.
    RealFftPlan plan(length, engine_);
    RealFftBuffer buffer(length);
    double* w = buffer.Samples();
    std::fill(w, w + length, 0.0);
    std::copy(taps_.begin(), taps_.end(), w);
    plan.Forward(buffer);
    std::vector<std::complex<double>> bins(buffer.Bins(), buffer.Bins() + buffer.BinCount());
    const double scale = 1.0 / static_cast<double>(length);
    for (auto& b : bins) b *= scale;
    plan_.emplace(std::move(plan));
    buffer_.emplace(std::move(buffer));
    bins_ = std::move(bins);
}

void PartitionedFilterStage::Process(double* samples, std::size_t count) {
    if (count == 0) return;
    if (!plan_) SetBlockLength(count);
    const std::size_t length = plan_->Size();
    const std::size_t h = history_.size();
    const std::size_t capacity = length - h;
    double* w = buffer_->Samples();
    for (std::size_t done = 0; done < count;) {
        const std::size_t c = std::min(capacity, count - done);
        // [history][chunk][zeros]: the causal taps reach back into the history only, so the
        // chunk's outputs are the linear convolution, untouched by the circular wrap.
        std::copy(history_.begin(), history_.end(), w);
        std::copy(samples + done, samples + done + c, w + h);
        std::fill(w + h + c, w + length, 0.0);
        std::copy(w + c, w + c + h, history_.begin());
        plan_->Forward(*buffer_);
        MultiplySpectrum(buffer_->Bins(), bins_.data(), bins_.size(), 1.0);
        plan_->Inverse(*buffer_);
        std::copy(w + h, w + h + c, samples + done);
        done += c;
    }
}
