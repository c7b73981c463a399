#pragma once
// Typed parameter queries shared by the models.
#include <map>
#include <string>
#include <vector>

// One row of the receiver's table-driven integer fetch. The first allowed value is the default.
struct IntParamSpec {
    std::string name;
    std::vector<int> allowed;
    std::vector<std::string> labels;
    std::map<int, int> positions;  // allowed value -> its position in `allowed`
};

// Builds an IntParamSpec with `positions` derived from `allowed`.
IntParamSpec MakeIntParamSpec(std::string name, std::vector<int> allowed,
                              std::vector<std::string> labels = {});

// Integer scan with the rules of C's "%d" (leading whitespace skipped, optional sign, trailing
// text ignored). A number outside the range of int counts as no number at all, so it never
// comes back wrapped round. Returns false, leaving `value` alone, when no number is found.
bool ScanInt(const std::string& text, int& value);

// "%d" scan non-zero -> true; else first word exactly "True" or "true".
bool ParseBool(const std::string& text);
