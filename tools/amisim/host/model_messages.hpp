#pragma once
// What a model says besides its numbers: the warning lines of its message text and console, the
// Params_Valid flag, the receiver's adapted gains and its DFE tap report.
#include <optional>
#include <string>
#include <vector>

namespace amisim {

// Warning blocks of a model's message text: each line that starts a warning ("WARNING",
// "**Warning**", "Illegal value", "Couldn't scan", "Leaf value getter", "ERROR", ...) together
// with the indented or explanatory lines that continue it, joined by " / ".
std::vector<std::string> warningLines(const std::string& message);

// Non-empty lines a model printed on standard output; repeats are folded into one line with
// the number of times it appeared ("... (printed 12 times)").
std::vector<std::string> consoleLines(const std::string& console);

// The value of Params_Valid in an output parameter string, when the model reports one.
std::optional<bool> paramsValid(const std::string& parametersOut);

// CTLE/VGA gains the receiver chose itself, from its "After adaptaion: AC Gain: a, DC Gain: d,
// VGA Gain: v" line (the model's own spelling).
struct AdaptedGains {
    int ac = 0, dc = 0, vga = 0;
};
std::optional<AdaptedGains> adaptedGains(const std::string& message);

// The receiver's DFE tap report "(tap_1 <code> <weight>) (tap_2 ...)" in its output
// parameters, in tap order; empty when there is none.
struct DfeTap {
    int index = 0;
    int code = 0;
    double weight = 0;
};
std::vector<DfeTap> dfeTapReport(const std::string& parametersOut);

// Root name of a parameter string "(Root ...)", empty when it has none.
std::string rootNameOf(const std::string& parameters);

}  // namespace amisim
