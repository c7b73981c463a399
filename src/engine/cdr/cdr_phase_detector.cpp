#include "engine/cdr/cdr_phase_detector.hpp"

void AlexanderDetector::EdgeStep(std::int32_t edgeBit) {
    previousData = data;
    edge = edgeBit;
}

std::int32_t AlexanderDetector::DataStep(std::int32_t dataBit, double clockFrequency) {
    data = dataBit;
    up = previousData ^ edge;
    down = edge ^ data;
    code = down + 2 * up;
    previousOutput = output;
    switch (code) {
        case 1:
            output = -1;
            break;
        case 2:
            output = 1;
            break;
        case 3:
            output = 0;
            break;
        default:
            if (forceZero) output = 0;
            break;
    }
    changed = output != previousOutput;
    halfPeriod = 0.5 / clockFrequency;
    return output;
}
