#pragma once
// Alexander (two-times oversampling bang-bang) phase detector: a data sample per clock period
// and an edge sample half a period later tell whether the clock is early or late against a data
// transition.
#include <cstdint>

struct AlexanderDetector {
    std::int32_t previousData = 0;
    std::int32_t edge = 0;
    std::int32_t data = 0;
    std::int32_t up = 0;    // previous data != edge: the transition came before the edge sample
    std::int32_t down = 0;  // edge != data: the transition came after it
    std::int32_t code = 0;  // down + 2 up
    std::int32_t output = 0;
    std::int32_t previousOutput = 0;
    bool changed = false;
    // With it set, a period without a transition stops the pump; otherwise the last output
    // stays in force.
    bool forceZero = true;
    double halfPeriod = 0;  // s

    // The edge sample; the data bit of the last data step becomes the previous data bit.
    void EdgeStep(std::int32_t edgeBit);
    // The data sample and the detector's decision: -1 (clock early, slow down), +1 (clock late,
    // speed up) or 0. `clockFrequency` refreshes the half period.
    std::int32_t DataStep(std::int32_t dataBit, double clockFrequency);
};
