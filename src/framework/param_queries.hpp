#pragma once
// Typed parameter queries shared by the models.
#include <map>
#include <optional>
#include <string>
#include <vector>

class AmiParamTree;

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

// The one integer scanner of both models: the rules of C's "%d" (leading whitespace skipped,
// optional sign, trailing text ignored, so "12.7" reads as 12), except that a number outside
// the range of int saturates at INT_MIN or INT_MAX instead of wrapping round: it is still a
// number, too low or too high, and the range checks of the caller repair it as such.
std::optional<int> ScanInt(const std::string& text);
// The same scan; returns false, leaving `value` alone, when no number is found.
bool ScanInt(const std::string& text, int& value);
// The same scan, or `fallback` when no number is found.
int ScanIntOr(const std::string& text, int fallback);

// The lookup under every parameter read of both models: GetLeaf on the path that starts with
// the tree's own root name and goes on with `names`. Returns GetLeaf's code (0 found, 1 root
// name differs, 2 not found); `value` is written only on 0.
int LookUpParam(const AmiParamTree& tree, const std::vector<std::string>& names,
                std::string& value);

// "%d" scan non-zero -> true; else first word exactly "True" or "true".
bool ParseBool(const std::string& text);
