#pragma once
// Source resistance and Touchstone file of the analog front end, written into the simulator's
// parameter string for AMI_Resolve.
#include <string>

class AmiParamTree;

namespace v10kx_ami_tx {

struct FrontEnd {
    double txR = 50;  // ohms
    std::string touchstoneFile;
};

// From the rterm, corner and slew leaves under the root; without a tree the defaults apply.
FrontEnd SelectFrontEnd(const AmiParamTree* tree);

// `text` with the Tx_R and Tstonefile leaves set (replaced where they exist, else appended before
// the last closing parenthesis).
std::string ResolveFrontEnd(const AmiParamTree* tree, const std::string& text);

// Sets the value of every list named `name` (at any depth) to `value`: its first element when
// that is a value, else `value` goes right after the name. Everything else keeps its bytes:
// values (quoted or bare, with their blanks and line ends), comments with their line ends, and
// whatever follows the replaced value. Blanks between tokens become single blanks and the result
// ends with one. `value` is a number or a quoted text; it is quoted when other elements follow
// it. `found` tells whether a list directly under the root was set (the one a query reads); a
// text that does not parse comes back unchanged.
std::string ReplaceLeafValue(const std::string& text, const std::string& name,
                             const std::string& value, bool& found);

// Inserts "(name value)" before the last ")" of `text` (the root's), or, when the root ends in a
// bare value or a lone comment, in front of that; empty when there is no ")".
std::string AppendLeaf(const std::string& text, const std::string& name, const std::string& value);

}  // namespace v10kx_ami_tx
