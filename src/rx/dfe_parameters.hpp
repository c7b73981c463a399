#pragma once
// The DFE settings of the parameter string: float start, tap length and the eleven tap codes,
// bounded with their warnings.
#include <functional>
#include <string>
#include <vector>

struct DfeParameters {
    int floatOffset = 0;  // float_start - 8, after bounding; 0 without float_start
    int tapCount = 11;
    std::vector<int> codes;  // tap_1 ... tap_11, bounded to +-(range / 2)
};

// Value text of a parameter path below the root, empty when absent.
using DfeParamText = std::function<std::string(const std::vector<std::string>&)>;

// Reads the settings through `text`, appending the bounding warnings to `log`.
DfeParameters ReadDfeParameters(const DfeParamText& text, std::string& log);
